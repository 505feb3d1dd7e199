-- ERP tables read by zor_clientes_postgres (only the columns it uses).
-- There are deliberately no foreign keys: production ERP data holds orphan
-- rows (titles of deleted clients, POPs without a city, ...) and the job
-- has to cope with them.

CREATE TABLE financeiro_titulo (
    id              serial PRIMARY KEY,
    cliente_id      integer,
    valor           numeric(12,2),
    status          integer,          -- 1 = open, 2 = paid, others = cancelled/renegotiated
    data_vencimento date,
    data_documento  timestamp
);

CREATE TABLE admcore_cliente (
    id          integer PRIMARY KEY,
    pessoa_id   integer,
    endereco_id integer
);

CREATE TABLE admcore_pessoa (
    id      integer PRIMARY KEY,
    nome    text,
    cpfcnpj text
);

CREATE TABLE admcore_clientecontato (
    id         serial PRIMARY KEY,
    cliente_id integer,
    contato_id integer
);

CREATE TABLE admcore_contato (
    id      integer PRIMARY KEY,
    contato text
);

CREATE TABLE admcore_clientecontrato (
    id            serial PRIMARY KEY,
    cliente_id    integer,
    pop_id        integer,
    data_cadastro timestamp
);

CREATE TABLE admcore_pop (
    id     integer PRIMARY KEY,
    codigo integer,                   -- city code, matches admcore_cidade.codigo as text
    cidade text
);

CREATE TABLE admcore_cidade (
    codigo text PRIMARY KEY,
    cidade text
);

CREATE TABLE admcore_endereco (
    id     integer PRIMARY KEY,
    bairro text
);
