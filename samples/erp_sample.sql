-- Sample ERP data for zor_clientes_postgres (UTF-8).
-- Due dates are relative to CURRENT_DATE so the overdue titles stay overdue
-- whenever the sample is loaded. A title is overdue when status = 1 and
-- data_vencimento < CURRENT_DATE.
--
--  101  João da Silva           two overdue titles, POP 1
--  102  Maria da Conceição      fractional-second registration, city with punctuation
--  103  Antônio Carlos Peçanha  overdue, but no contract at all
--  104  Luíza Gonçalves         overdue, no contact
--  105  Sebastião Araújo        overdue, the same contact linked twice plus a second one
--  106  Padaria D'Ávila Ltda    overdue, contracts in POPs of two different cities (CNPJ)
--  107  Fernanda Lúcia Brandão  overdue title with NULL valor plus a valued one
--  108  Raimundo Nonato         only a title due today (not overdue)
--  109  Cláudia Mendonça        overdue date but already paid (status 2)
--  110  Otávio Guimarães        only titles not yet due
--  111  Rosângela Simões        overdue, empty-string bairro
--  112  José Inácio Müller      overdue, no address, contract in a POP whose city is unknown
--  999  (not in admcore_cliente) overdue title of a client that no longer exists

SET client_encoding = 'UTF8';

INSERT INTO admcore_cidade (codigo, cidade) VALUES
    ('3550308', 'São Paulo'),
    ('3509502', 'Campinas'),
    ('4299001', '(Centro-Sul) S.J. d''Oeste');

INSERT INTO admcore_pop (id, codigo, cidade) VALUES
    (1, 4299001, 'S.J. d''Oeste'),
    (2, 3550308, 'São Paulo'),
    (3, 3509502, 'Campinas'),
    (4, 9999999, 'POP Rural');          -- no matching admcore_cidade row

INSERT INTO admcore_endereco (id, bairro) VALUES
    (501, 'Centro'),
    (502, 'Jardim Conceição'),
    (503, 'Vila Mariana'),
    (504, 'Bela Vista'),
    (505, 'São João'),
    (506, 'Distrito Industrial'),
    (507, 'Parque das Águas'),
    (508, 'Centro'),
    (509, 'Santa Cecília'),
    (510, 'Boa Esperança'),
    (511, '');                          -- empty bairro

INSERT INTO admcore_pessoa (id, nome, cpfcnpj) VALUES
    (201, 'João da Silva',          '123.456.789-09'),
    (202, 'Maria da Conceição',     '987.654.321-00'),
    (203, 'Antônio Carlos Peçanha', '111.444.777-35'),
    (204, 'Luíza Gonçalves',        '529.982.247-25'),
    (205, 'Sebastião Araújo',       '390.533.447-05'),
    (206, 'Padaria D''Ávila Ltda',  '11.222.333/0001-81'),
    (207, 'Fernanda Lúcia Brandão', '714.602.380-01'),
    (208, 'Raimundo Nonato',        '248.438.034-80'),
    (209, 'Cláudia Mendonça',       '853.513.468-93'),
    (210, 'Otávio Guimarães',       '067.341.625-72'),
    (211, 'Rosângela Simões',       '456.321.987-13'),
    (212, 'José Inácio Müller',     '02.345.678/0001-90');

INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES
    (101, 201, 501),
    (102, 202, 502),
    (103, 203, 503),
    (104, 204, 504),
    (105, 205, 505),
    (106, 206, 506),
    (107, 207, 507),
    (108, 208, 508),
    (109, 209, 509),
    (110, 210, 510),
    (111, 211, 511),
    (112, 212, NULL);                   -- no address

INSERT INTO admcore_contato (id, contato) VALUES
    (301, '(11) 98765-4321'),
    (302, 'maria.conceicao@example.com.br'),
    (303, '(19) 3232-1010'),
    (305, '(11) 99999-0005'),
    (306, 'financeiro@padariadavila.example.com.br'),
    (315, 'sebastiao@example.com.br'),
    (307, '(11) 97777-0707'),
    (308, '(11) 96666-0808'),
    (309, '(19) 95555-0909'),
    (310, '(19) 94444-1010'),
    (311, '(11) 93333-1111'),
    (312, '(45) 3222-1212');

INSERT INTO admcore_clientecontato (cliente_id, contato_id) VALUES
    (101, 301),
    (102, 302),
    (103, 303),
    -- 104 has no contact
    (105, 305),
    (105, 305),                         -- duplicated link
    (105, 315),
    (106, 306),
    (107, 307),
    (108, 308),
    (109, 309),
    (110, 310),
    (111, 311),
    (112, 312);

INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro) VALUES
    (101, 1, '2021-03-15 09:00:00'),
    (102, 1, '2023-05-04 10:20:30.750'),  -- fractional seconds
    -- 103 has no contract
    (104, 1, '2022-11-30 17:45:00'),
    (105, 1, '2020-01-02 08:00:00'),
    (106, 1, '2019-07-01 14:30:00'),
    (106, 2, '2022-02-10 11:15:00'),      -- second contract, other city
    (107, 3, '2024-01-20 16:05:12'),
    (108, 1, '2023-08-08 08:08:08'),
    (109, 2, '2022-06-06 10:00:00'),
    (110, 1, '2024-03-01 13:00:00'),
    (111, 1, '2021-12-24 23:59:59'),
    (112, 4, '2018-09-09 09:09:09');

INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento, data_documento) VALUES
    -- 101: two overdue titles
    (101,   99.90, 1, CURRENT_DATE - 40, CURRENT_DATE - 70 + time '08:00'),
    (101,  120.50, 1, CURRENT_DATE - 10, CURRENT_DATE - 40 + time '08:00'),
    -- 102: overdue
    (102,   79.90, 1, CURRENT_DATE - 15, CURRENT_DATE - 45 + time '09:30'),
    -- 103: overdue, no contract
    (103,  149.00, 1, CURRENT_DATE - 5,  CURRENT_DATE - 35 + time '10:00'),
    -- 104: overdue, no contact
    (104,   59.90, 1, CURRENT_DATE - 1,  CURRENT_DATE - 31 + time '10:00'),
    -- 105: overdue, plus a paid one
    (105,   89.90, 1, CURRENT_DATE - 60, CURRENT_DATE - 90 + time '07:00'),
    (105,   89.90, 2, CURRENT_DATE - 90, CURRENT_DATE - 120 + time '07:00'),
    -- 106: overdue, two contracts in different cities
    (106, 1299.99, 1, CURRENT_DATE - 20, CURRENT_DATE - 50 + time '11:00'),
    -- 107: NULL valor and a valued one
    (107,    NULL, 1, CURRENT_DATE - 12, CURRENT_DATE - 42 + time '12:00'),
    (107,   45.00, 1, CURRENT_DATE - 3,  CURRENT_DATE - 33 + time '12:00'),
    -- 108: due today, not overdue yet
    (108,   99.90, 1, CURRENT_DATE,      CURRENT_DATE - 30 + time '08:00'),
    -- 109: past due date but paid
    (109,  199.90, 2, CURRENT_DATE - 25, CURRENT_DATE - 55 + time '08:00'),
    -- 110: only future titles
    (110,   69.90, 1, CURRENT_DATE + 1,  CURRENT_DATE - 29 + time '08:00'),
    (110,   69.90, 1, CURRENT_DATE + 31, CURRENT_DATE + 1 + time '08:00'),
    -- 111: overdue, empty bairro
    (111,  109.90, 1, CURRENT_DATE - 8,  CURRENT_DATE - 38 + time '08:00'),
    -- 112: overdue, no address, POP without city
    (112,  250.00, 1, CURRENT_DATE - 100, CURRENT_DATE - 130 + time '08:00'),
    -- 999: client missing from admcore_cliente
    (999,   39.90, 1, CURRENT_DATE - 30, CURRENT_DATE - 60 + time '08:00');
