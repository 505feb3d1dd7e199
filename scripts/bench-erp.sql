-- Synthetic ERP data of an internet provider, for scripts/bench.
--
-- Run it with psql on a database that already holds samples/erp_schema.sql:
--
--     psql -v clients=125000 -v overdue=100000 -f scripts/bench-erp.sql erp
--
-- clients  number of client ids (1 .. clients); default 1250
-- overdue  how many of them have at least one overdue open title (status 1,
--          due before today); spread evenly over the ids; default 1000
--
-- Everything is generated server side with generate_series and a fixed
-- random seed, so one million clients load in a few minutes. The data has
-- what a real ERP holds and what the overdue-client statement has to cope
-- with:
--   - about three titles per client: paid (status 2), open and not yet due
--     (some due today), cancelled (status 3) and overdue; about 3 % of the
--     titles have no valor and about 3 % no data_documento;
--   - one client id in 1009 has titles but no admcore_cliente row (a deleted
--     client);
--   - one to three contacts per client, phones and e-mails, sometimes the same
--     text twice or the same contact linked twice;
--   - zero to two contracts per client, with registration timestamps that
--     have fractional seconds, in a few hundred POPs spread over a few hundred
--     cities; some POPs have no city, no name or an empty name;
--   - names, cities, POPs and neighbourhoods with accents and with the
--     characters ( ) [ ] ' - . that the discovery removes;
--   - the indexes an ERP has on these tables, and fresh statistics.

\set ON_ERROR_STOP 1
\if :{?clients}
\else
\set clients 1250
\endif
\if :{?overdue}
\else
\set overdue 1000
\endif

SET client_min_messages = warning;
SET synchronous_commit = off;
SET maintenance_work_mem = '256MB';
SELECT setseed(0.1234) \gset

-- One row per client id with the dice thrown once, so every table agrees.
CREATE UNLOGGED TABLE bench_cliente_plan AS
SELECT i AS id,
       (i::bigint * :overdue) / :clients > ((i - 1)::bigint * :overdue) / :clients AS em_atraso,
       i % 1009 = 0 AS apagado,
       1 + floor(random() * 3)::int AS contatos,
       CASE WHEN r_contrato < 0.10 THEN 0 WHEN r_contrato < 0.80 THEN 1 ELSE 2 END AS contratos,
       2 + floor(random() * 3)::int AS titulos,
       random() < 0.15 AS empresa,
       random() AS r1, random() AS r2, random() AS r3, random() AS r4
FROM (SELECT i, random() AS r_contrato FROM generate_series(1, :clients) AS i) AS g;

-- Cities: 300 of them, with IBGE-like seven-digit codes kept as text.
INSERT INTO admcore_cidade (codigo, cidade)
SELECT (3500000 + k)::text,
       (ARRAY['São ', 'Santa ', 'Santo ', 'Nova ', 'Águas de ', 'Bom Jesus d''', 'Pres. ', 'Gov. ',
              'Vila ', 'Porto ', 'Barra ', 'Serra ', 'Conceição de ', 'Itá-', 'Ribeirão '])[1 + (k - 1) % 15]
       || (ARRAY['Paulo', 'Bárbara d''Oeste', 'André', 'Iguaçu', 'Lindóia', 'da Lapa', 'Prudente',
                 'Valadares', 'Araçá', 'Tinguá', 'de Itapemirim', 'Rica', 'Alegre', 'do Piraí', 'Negra',
                 'Guaçu', 'Açu', 'José dos Campos', 'Tomé', 'Óbidos'])[1 + (k - 1) / 15]
       || CASE WHEN k % 9 = 0 THEN ' (Distrito)' WHEN k % 13 = 0 THEN ' [MG]' WHEN k % 17 = 0 THEN '-Mirim' ELSE '' END
FROM generate_series(1, 300) AS k;

-- POPs: 400, each in one city; a few point at a code no city has, a few have
-- no name or an empty one.
INSERT INTO admcore_pop (id, codigo, cidade)
SELECT p,
       CASE WHEN p % 50 = 0 THEN 9999999 ELSE 3500000 + 1 + (p * 7) % 300 END,
       CASE WHEN p % 97 = 0 THEN NULL
            WHEN p % 89 = 0 THEN ''
            ELSE 'POP ' || c.cidade || ' - '
                 || (ARRAY['Centro', 'Norte', 'Sul (Torre 2)', 'Leste', 'Backbone [OLT-01]', 'Rural'])[1 + p % 6]
       END
FROM generate_series(1, 400) AS p
LEFT JOIN admcore_cidade AS c ON c.codigo = (3500000 + 1 + (p * 7) % 300)::text;

-- Addresses: one per client; a few without neighbourhood or with an empty one.
INSERT INTO admcore_endereco (id, bairro)
SELECT id,
       CASE WHEN r1 < 0.04 THEN NULL
            WHEN r1 < 0.05 THEN ''
            ELSE (ARRAY['Centro', 'Jardim América', 'Vila Nova (Zona Sul)', 'Sto. Amaro',
                        'Parque São Jorge - II', 'Jardim São Luís', 'Conj. Hab. Padre Anchieta',
                        'Vila Mariana', 'Cidade Nova [Setor B]', 'Boa Vista', 'Ipiranga',
                        'Jardim D''Abril', 'Vila Brasilândia', 'Bela Vista', 'Lapa', 'Tatuapé',
                        'Jd. das Flores', 'Alto da Boa Vista', 'Chácara Santo Antônio',
                        'Pq. Industrial', 'Jardim Europa - Fase 2', 'Santa Efigênia',
                        'Núcleo Bandeirante (Área Rural)', 'Três Marias'])[1 + floor(r2 * 24)::int]
       END
FROM bench_cliente_plan;

-- People: persons with CPF, companies with CNPJ, both formatted as typed in.
INSERT INTO admcore_pessoa (id, nome, cpfcnpj)
SELECT id,
       CASE WHEN empresa THEN
                (ARRAY['Padaria', 'Mercearia', 'Auto Peças', 'Farmácia', 'Açougue', 'Lanchonete',
                       'Papelaria', 'Distribuidora', 'Construtora', 'Clínica Odontológica', 'Pet Shop',
                       'Salão de Beleza'])[1 + floor(r3 * 12)::int]
                || ' ' || (ARRAY['São Jorge', 'Pão D''Ouro', 'Irmãos Gonçalves', 'Boa Esperança',
                                 'Estrela (Matriz)', 'Três Corações', 'Ávila & Filhos', 'Nossa Senhora Aparecida'])[1 + floor(r4 * 8)::int]
                || ' ' || (ARRAY['Ltda.', 'ME', 'EIRELI', 'S.A.', 'Ltda - ME', '[Filial]', '& Cia.'])[1 + id % 7]
            ELSE
                (ARRAY['José', 'João', 'Antônio', 'Francisco', 'Luís', 'Gonçalo', 'Sebastião', 'Conceição',
                       'Maria', 'Ana', 'Márcia', 'Lúcia', 'Fátima', 'Inês', 'Cecília', 'Débora', 'Érica',
                       'Ângela', 'Raimundo', 'Thiago', 'Vinícius', 'Caio', 'Iara', 'Zélia'])[1 + floor(r3 * 24)::int]
                || ' ' || (ARRAY['da Silva', 'dos Santos', 'Araújo', 'Gonçalves', 'Magalhães', 'D''Ávila',
                                 'Peçanha', 'Brandão', 'Simões', 'Estêvão', 'Assunção', 'Guimarães', 'Falcão',
                                 'Müller', 'O''Neill', 'Sant''Anna', 'Castelo-Branco', 'Albuquerque', 'Camargo',
                                 'Gusmão'])[1 + floor(r4 * 20)::int]
                || CASE WHEN id % 5 = 0 THEN ' Jr.' WHEN id % 11 = 0 THEN ' (in memoriam)' ELSE '' END
       END,
       CASE WHEN empresa THEN
                to_char(10000000 + (id::bigint * 7919) % 89999999, 'FM00"."000"."000') || '/0001-' || lpad((id % 97)::text, 2, '0')
            ELSE
                to_char(100000000 + (id::bigint * 104729) % 899999999, 'FM000"."000"."000') || '-' || lpad((id % 89)::text, 2, '0')
       END
FROM bench_cliente_plan;

-- Clients: all ids but the deleted ones; a few without an address.
INSERT INTO admcore_cliente (id, pessoa_id, endereco_id)
SELECT id, id, CASE WHEN r2 < 0.03 THEN NULL ELSE id END
FROM bench_cliente_plan
WHERE NOT apagado;

-- Contacts: contact j of client i has id 4 * i + j. One client in ten repeats
-- the text of its first contact in a second contact row, one in twenty has
-- its first contact linked twice.
INSERT INTO admcore_contato (id, contato)
SELECT 4 * c.id + j,
       CASE WHEN j = 1 AND c.r4 < 0.10 THEN
                '(' || (11 + c.id % 88) || ') 9' || lpad(((c.id * 37) % 10000)::text, 4, '0') || '-' || lpad((c.id % 10000)::text, 4, '0')
            WHEN (c.id + j) % 10 < 7 THEN
                '(' || (11 + (c.id + j) % 88) || ') 9' || lpad(((c.id * 37 + j) % 10000)::text, 4, '0') || '-' || lpad(((c.id + j * 17) % 10000)::text, 4, '0')
            ELSE
                'cliente' || c.id || CASE WHEN j > 0 THEN '.' || j ELSE '' END || '@provedor.com.br'
       END
FROM bench_cliente_plan AS c
CROSS JOIN LATERAL generate_series(0, c.contatos - 1) AS j;

INSERT INTO admcore_clientecontato (cliente_id, contato_id)
SELECT c.id, 4 * c.id + j
FROM bench_cliente_plan AS c
CROSS JOIN LATERAL generate_series(0, c.contatos - 1) AS j
UNION ALL
SELECT id, 4 * id FROM bench_cliente_plan WHERE r3 < 0.05;

-- Contracts: registration timestamps with microseconds; a few in a POP that
-- does not exist or with no POP at all.
INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro)
SELECT cliente_id,
       CASE WHEN r < 0.01 THEN NULL WHEN r < 0.02 THEN 401 + floor(r * 1000)::int ELSE 1 + floor(r * 400)::int END,
       timestamp '2012-01-01 00:00:00' + r_data * interval '4380 days'
FROM (
    SELECT c.id AS cliente_id, random() AS r, random() AS r_data
    FROM bench_cliente_plan AS c
    CROSS JOIN LATERAL generate_series(1, c.contratos) AS k
    OFFSET 0
) AS d;

-- Titles, in the order monthly billing writes them (one pass over all clients
-- per month). Kind of each title: the first title of an overdue client is
-- overdue; the others are paid, open and not yet due, cancelled, or (for an
-- overdue client) overdue too.
INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento, data_documento)
SELECT cliente_id,
       CASE WHEN r_valor < 0.03 THEN NULL ELSE round((49.90 + r_valor * 250)::numeric, 2) END,
       CASE tipo WHEN 'pago' THEN 2 WHEN 'cancelado' THEN 3 ELSE 1 END,
       vencimento,
       CASE WHEN r_doc < 0.03 THEN NULL ELSE vencimento - 10 + r_doc * interval '1 day' END
FROM (
    SELECT cliente_id, tipo, r_valor, r_doc,
           CASE tipo
               WHEN 'atraso' THEN current_date - (1 + floor(r_dias * 180)::int)
               WHEN 'aberto' THEN current_date + floor(r_dias * 45)::int
               ELSE current_date - floor(r_dias * 365)::int
           END AS vencimento
    FROM (
        SELECT c.id AS cliente_id,
               CASE
                   WHEN k = 1 AND c.em_atraso THEN 'atraso'
                   WHEN r_tipo < 0.55 THEN 'pago'
                   WHEN r_tipo < 0.80 THEN 'aberto'
                   WHEN r_tipo < 0.90 OR NOT c.em_atraso THEN 'cancelado'
                   ELSE 'atraso'
               END AS tipo,
               r_valor, r_doc, r_dias
        FROM (
            SELECT k, c.id, c.em_atraso, random() AS r_tipo, random() AS r_valor, random() AS r_doc,
                   random() AS r_dias
            FROM generate_series(1, 4) AS k
            JOIN bench_cliente_plan AS c ON k <= c.titulos
            ORDER BY k, c.id
            OFFSET 0
        ) AS c
    ) AS t
) AS t;

DROP TABLE bench_cliente_plan;

CREATE INDEX financeiro_titulo_cliente_id_idx ON financeiro_titulo (cliente_id);
CREATE INDEX financeiro_titulo_vencimento_idx ON financeiro_titulo (data_vencimento);
CREATE INDEX admcore_cliente_pessoa_id_idx ON admcore_cliente (pessoa_id);
CREATE INDEX admcore_clientecontato_cliente_id_idx ON admcore_clientecontato (cliente_id);
CREATE INDEX admcore_clientecontrato_cliente_id_idx ON admcore_clientecontrato (cliente_id);
CREATE INDEX admcore_clientecontrato_pop_id_idx ON admcore_clientecontrato (pop_id);

VACUUM ANALYZE;
