-- One page of the server-side floor of the snapshot upsert, for scripts/bench.
--
-- Upserts the rows lo < seq <= hi of bench_staging (a copy, numbered in push
-- order, of the rows a push of zor_clientes_postgres wrote) into
-- zor_clientes, with the run timestamp ts, the same row key and the same 12
-- updated columns as the push. This is the work the server does for one page
-- when nothing has to be sent, parsed or converted:
--
--     psql -v lo=0 -v hi=10000 -v ts='2024-01-01 00:00:00' -f scripts/bench-floor.sql store

INSERT INTO zor_clientes (idCliente, razaoSocial, cpfCnpj, valorDivida, titulosDivida, contatoCliente,
                          primeiroVencimento, diasAtraso, cidade, pop, bairro, dataCadastro,
                          dataCriacaoTitulo, zorIdentification, timestamp)
SELECT idCliente, razaoSocial, cpfCnpj, valorDivida, titulosDivida, contatoCliente,
       primeiroVencimento, diasAtraso, cidade, pop, bairro, dataCadastro,
       dataCriacaoTitulo, zorIdentification, :'ts'::timestamp
FROM bench_staging
WHERE seq > :lo AND seq <= :hi
ON CONFLICT (idCliente, dataCadastro, zorIdentification)
DO UPDATE SET razaoSocial = EXCLUDED.razaoSocial, cpfCnpj = EXCLUDED.cpfCnpj,
              valorDivida = EXCLUDED.valorDivida, titulosDivida = EXCLUDED.titulosDivida,
              contatoCliente = EXCLUDED.contatoCliente, primeiroVencimento = EXCLUDED.primeiroVencimento,
              diasAtraso = EXCLUDED.diasAtraso, cidade = EXCLUDED.cidade, pop = EXCLUDED.pop,
              bairro = EXCLUDED.bairro, dataCriacaoTitulo = EXCLUDED.dataCriacaoTitulo,
              timestamp = EXCLUDED.timestamp;
