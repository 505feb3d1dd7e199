-- Rows of a shared store for scripts/bench-shared: :hosts identifications of
-- :clients overdue clients each, as the program would have written them, in
-- the table bench_seed (the comparison of index sets copies it into
-- zor_clientes for each set).
--
--     psql -v hosts=200 -v clients=10000 -f scripts/bench-indexes.sql store
--
-- Identification provedor-NNN pushed NNN minutes ago (one timestamp for all
-- its rows); the last one pushed two days ago, so a retention has :clients
-- stale rows to delete. One client in ten has no contract (NULL
-- datacadastro).

\set ON_ERROR_STOP 1
\if :{?hosts}
\else
\set hosts 200
\endif
\if :{?clients}
\else
\set clients 10000
\endif
SET client_min_messages = warning;

DROP TABLE IF EXISTS bench_seed;
CREATE UNLOGGED TABLE bench_seed AS
SELECT c AS idcliente,
       'Cliente ' || c || ' da Silva Gonçalves' AS razaosocial,
       to_char(100000000 + (c::bigint * 104729) % 899999999, 'FM000"."000"."000') || '-' || lpad((c % 89)::text, 2, '0') AS cpfcnpj,
       round((random() * 900)::numeric, 2)::double precision AS valordivida,
       1 + c % 4 AS titulosdivida,
       '(11) 9' || lpad((c % 100000000)::text, 8, '0') || ', cliente' || c || '@example.com.br' AS contatocliente,
       timestamp '2024-01-01' + (c % 300) * interval '1 day' AS primeirovencimento,
       10 + c % 300 AS diasatraso,
       'São José dos Campos' AS cidade,
       'POP Centro ' || (c % 400) AS pop,
       'Jardim São Luís' AS bairro,
       CASE WHEN c % 10 = 0 THEN NULL ELSE timestamp '2020-01-01' + c * interval '17 minutes' END AS datacadastro,
       timestamp '2023-12-01' + (c % 300) * interval '1 day' AS datacriacaotitulo,
       'provedor-' || lpad(h::text, 3, '0') AS zoridentification,
       CASE WHEN h = :hosts THEN localtimestamp - interval '2 days'
            ELSE localtimestamp - h * interval '1 minute' END AS timestamp
FROM generate_series(1, :hosts) AS h, generate_series(1, :clients) AS c;
