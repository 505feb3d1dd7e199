#pragma once
/// The records of one run, packed: a client costs its values and the bytes of its texts, with no
/// heap block per record or per value.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "cli/value.h"

namespace zor {

/// Number of entries of a discovery record.
inline constexpr std::size_t RECORD_FIELDS = 14;

/// The keys of a discovery record, in the order of its entries; the store's first 14 columns are
/// filled from them in this same order.
inline constexpr std::array<std::string_view, RECORD_FIELDS> RECORD_KEYS = {
    "{#CLIENTE_ID}",      "{#RAZAOSOCIAL}",  "{#CPF_CNPJ}",   "{#VALOR_DIVIDA}",        "{#TITULOS_EM_ATRASO}",
    "{#CONTATO}",         "{#PRIMEIRO_VENCIMENTO}", "{#DIAS_ATRASO}", "{#CIDADE}",      "{#POP}",
    "{#BAIRRO}",          "{#DATA_CADASTRO}", "{#DATA_CRIACAO_TITULO}", "{#ZOR_IDENTIFICATION}"};

/// The 14 values of one record as read back from a list; texts point into the list.
using RecordValues = std::array<ValueView, RECORD_FIELDS>;

/// One block of packed records.
struct RecordBlock {
    std::unique_ptr<std::byte[]> data;
    std::size_t used = 0;
    std::size_t capacity = 0;
};

/// An append-only list of 14-value records, walked in the order they were added. Each record is
/// 14 kind bytes followed by the payloads of its values that are not null (8 bytes per number or
/// date-time, a text as its length and its bytes), back to back in blocks of 1 MiB.
struct RecordList {
    std::vector<RecordBlock> blocks;
    std::size_t count = 0;

    /// Reads the records one after the other.
    struct const_iterator {
        const RecordBlock* block = nullptr;
        const RecordBlock* blocks_end = nullptr;
        std::size_t offset = 0;
        std::size_t record_size = 0;
        RecordValues values{};

        const RecordValues& operator*() const { return values; }
        const RecordValues* operator->() const { return &values; }
        const_iterator& operator++();
        friend bool operator==(const const_iterator& a, const const_iterator& b) {
            return a.block == b.block && a.offset == b.offset;
        }
    };

    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    const_iterator begin() const;
    const_iterator end() const;
};

/// Appends one record; the texts are copied into the list.
void append_record(RecordList& list, std::span<const ValueView, RECORD_FIELDS> values);

/// Appends one record given as key/value entries: each of the 14 keys takes the value of the entry
/// with that key, null when there is none; entries with other keys are left out.
void append_entries(RecordList& list, const Record& record);

/// The record as key/value entries, in key order, the values copied.
Record entries_of(const RecordValues& values);

}  // namespace zor
