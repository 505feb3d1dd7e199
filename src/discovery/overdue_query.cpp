#include "discovery/overdue_query.h"

#include "cli/run_config.h"

namespace zor {

// Count and sum are taken once per title in the inner aggregate, before the contact and contract
// joins multiply a client's rows; the outer aggregates (DISTINCT, MIN, MAX) are immune to that.
const std::string OVERDUE_CLIENTS_QUERY = R"SQL(
SELECT
    financeiro_titulo.cliente_id AS idCliente,
    admcore_pessoa.nome AS razaoSocial,
    admcore_pessoa.cpfcnpj AS cpjCnpj,
    financeiro_titulo.titulos_aberto AS titulosAtraso,
    financeiro_titulo.valor_aberto AS valorAtraso,
    STRING_AGG(DISTINCT admcore_contato.contato, ' | ' ORDER BY admcore_contato.contato) AS contatoCliente,
    financeiro_titulo.primeiro_vencimento,
    (CURRENT_DATE - financeiro_titulo.primeiro_vencimento) AS dias_em_atraso,
    STRING_AGG(DISTINCT admcore_cidade.cidade, ' | ' ORDER BY admcore_cidade.cidade) AS cidadeContrato,
    MAX(admcore_pop.cidade) AS pop,
    MAX(admcore_endereco.bairro) AS bairro,
    CAST(MIN(admcore_clientecontrato.data_cadastro) AS timestamp) AS dataCadastro,
    CAST(MIN(financeiro_titulo.data_documento) AS timestamp) AS dataCriacaoTitulo
FROM (
    SELECT
        cliente_id,
        COUNT(valor) AS titulos_aberto,
        CAST(SUM(valor) AS FLOAT) AS valor_aberto,
        MIN(data_vencimento) AS primeiro_vencimento,
        MIN(data_documento) AS data_documento
    FROM financeiro_titulo
    WHERE status = 1 AND data_vencimento < CURRENT_DATE
    GROUP BY cliente_id
) AS financeiro_titulo
LEFT OUTER JOIN admcore_cliente ON financeiro_titulo.cliente_id = admcore_cliente.id
LEFT OUTER JOIN admcore_pessoa ON admcore_cliente.pessoa_id = admcore_pessoa.id
LEFT OUTER JOIN admcore_clientecontato ON admcore_cliente.id = admcore_clientecontato.cliente_id
LEFT OUTER JOIN admcore_contato ON admcore_clientecontato.contato_id = admcore_contato.id
LEFT OUTER JOIN admcore_clientecontrato ON admcore_cliente.id = admcore_clientecontrato.cliente_id
LEFT JOIN admcore_pop ON admcore_clientecontrato.pop_id = admcore_pop.id
LEFT JOIN admcore_cidade ON admcore_pop.codigo::text = admcore_cidade.codigo
LEFT JOIN admcore_endereco ON admcore_endereco.id = admcore_cliente.endereco_id
GROUP BY
    financeiro_titulo.cliente_id,
    admcore_pessoa.nome,
    admcore_pessoa.cpfcnpj,
    financeiro_titulo.titulos_aberto,
    financeiro_titulo.valor_aberto,
    financeiro_titulo.primeiro_vencimento
)SQL";

Connection connect_erp() {
    const RunConfig& cfg = run_config();
    return connect({cfg.db_ip, cfg.db_port, cfg.db_name, cfg.db_user, cfg.db_password});
}

std::vector<Row> fetch_overdue_clients() {
    Connection conn = connect_erp();
    std::vector<Row> rows = query(conn.get(), OVERDUE_CLIENTS_QUERY);
    conn.reset();  // closed before any row is transformed
    return rows;
}

}  // namespace zor
