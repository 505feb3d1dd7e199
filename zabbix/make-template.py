#!/usr/bin/env python3
"""Writes zor_clientes_postgres_template.yaml, the Zabbix template (6.0 export format, which
Zabbix 7.0 imports as well).

    python3 zabbix/make-template.py            # rewrites zabbix/zor_clientes_postgres_template.yaml
    python3 zabbix/make-template.py --check    # exits 1 when the committed file differs

The clients of a host are split into SHARES fixed shares by idcliente modulo SHARES. Each share
has its own ODBC discovery rule (at {$ZOR.DISCOVERY.INTERVAL}) and its own ODBC values item (at
{$ZOR.STORE.INTERVAL}) on which that share's per-client items depend. Zabbix lets one master
item carry at most 29,999 dependent items, three per client here, so one share holds at most
9,999 clients and the template holds about SHARES * 9,999 clients per host.

UUIDs are derived from fixed names, so a regenerated template keeps them and a re-import updates
the same items (their history stays).
"""
import hashlib
import os
import sys

SHARES = 50
TEMPLATE = 'Template ZOR Clientes PostgreSQL'
HERE = os.path.dirname(os.path.abspath(__file__))
OUTPUT = os.path.join(HERE, 'zor_clientes_postgres_template.yaml')

LAUNCH_KEY = ('zor_clientes_postgres["launch_discovery_clientes","{HOST.HOST}","{$ZOR.ERP.HOST}",'
              '"{$ZOR.ERP.PORT}","{$ZOR.ERP.DB}","{$ZOR.ERP.USER}","{$ZOR.ERP.PASSWORD}","0",'
              '"{$ZOR.STORE.HOST}","{$ZOR.STORE.PORT}","{$ZOR.STORE.DB}","{$ZOR.STORE.USER}",'
              '"{$ZOR.STORE.PASSWORD}","{HOST.HOST}"]')
SUMMARY_KEY = 'db.odbc.get[zor_resumo,{$ZOR.STORE.DSN}]'

# The rows of this host's latest snapshot. The shape (host, then its newest timestamp) lets the
# server use an index on (zoridentification, timestamp).
LATEST = """FROM zor_clientes
WHERE zoridentification = '{HOST.HOST}'
  AND timestamp = (SELECT max(timestamp) FROM zor_clientes
                   WHERE zoridentification = '{HOST.HOST}')"""


def uuid(name):
    """A version-4 shaped UUID (32 hex digits) fixed by name."""
    h = bytearray(hashlib.sha256(('zor_clientes_postgres/' + name).encode()).digest()[:16])
    h[6] = (h[6] & 0x0F) | 0x40
    h[8] = (h[8] & 0x3F) | 0x80
    return h.hex()


def share_filter(k):
    # % keeps the sign of idcliente; a negative id belongs to the share of its absolute value.
    if k == 0:
        return f'idcliente % {SHARES} = 0'
    return f'idcliente % {SHARES} IN ({k}, -{k})'


def values_key(k):
    return f'db.odbc.get[zor_valores_{k:02d},{{$ZOR.STORE.DSN}}]'


def discovery_key(k):
    return f'db.odbc.get[zor_descoberta_{k:02d},{{$ZOR.STORE.DSN}}]'


def tags(*pairs):
    return [{'tag': t, 'value': v} for t, v in pairs]


def launch_item():
    expr = f'/{TEMPLATE}/{LAUNCH_KEY}'
    return {
        'uuid': 'b9fbd6c10f7f443ab20d2cc2924b2e5f',
        'name': 'ZOR: launch discovery',
        'type': 'EXTERNAL',
        'key': LAUNCH_KEY,
        'delay': '{$ZOR.INTERVAL}',
        'history': '7d',
        'trends': '0',
        'value_type': 'TEXT',
        'description': (
            'Starts the overdue-client discovery of this host as a background job and returns at once.\n'
            'Empty when all is well. Otherwise it holds what the previous background run of this host\n'
            'reported other than success ("zor_clientes_postgres: erro: ..." for an unreachable ERP,\n'
            '"Erro ao conectar ao PostgreSQL: ..." for the store, the time-out text), or the parameter\n'
            'count message when the key is wrong.\n'),
        'tags': tags(('component', 'zor')),
        'triggers': [{
            'uuid': '18a5d4574d3647719c5a8f4aa135ba1f',
            'expression': f'length(last({expr}))>0',
            'recovery_mode': 'RECOVERY_EXPRESSION',
            'recovery_expression': f'length(last({expr},#1))=0 and length(last({expr},#2))=0',
            'name': 'ZOR: the overdue-client discovery reported a problem',
            'opdata': '{ITEM.LASTVALUE1}',
            'priority': 'AVERAGE',
            'description': (
                'The last launch of the discovery returned text: the previous background run failed or '
                'the check is misconfigured. The item value has the details. It recovers after two empty '
                'launches in a row, because a launch that finds the previous run still going (a slow run '
                'or one that ends in the time-out) starts nothing and returns empty before that run has '
                'reported.'),
            'manual_close': 'YES',
            'tags': tags(('scope', 'availability')),
        }],
    }


def odbc_fields(sql):
    return {
        'params': sql,
        'username': '{$ZOR.STORE.USER}',
        'password': '{$ZOR.STORE.PASSWORD}',
    }


def summary_items():
    sql = f"""SELECT count(idcliente) AS clientes,
       to_char(max(timestamp), 'YYYY-MM-DD HH24:MI:SS') AS snapshot,
       count(*) - count(idcliente) AS linhas_sem_cliente,
       coalesce(sum(valordivida) FILTER (WHERE idcliente IS NULL), 0) AS sem_cliente_valordivida,
       coalesce(sum(titulosdivida) FILTER (WHERE idcliente IS NULL), 0) AS sem_cliente_titulosdivida,
       coalesce(max(diasatraso) FILTER (WHERE idcliente IS NULL), 0) AS sem_cliente_diasatraso
{LATEST}
"""
    master = {'key': SUMMARY_KEY}
    summary = {
        'uuid': uuid('item/summary'),
        'name': 'ZOR: snapshot summary (raw)',
        'type': 'ODBC',
        'key': SUMMARY_KEY,
        'delay': '{$ZOR.STORE.INTERVAL}',
        'history': '0',
        'trends': '0',
        'value_type': 'TEXT',
        **odbc_fields(sql),
        'description': (
            "One row about this host's latest snapshot in zor_clientes: the number of clients, the time\n"
            "of the snapshot, and the titles without a client (ERP titles whose cliente_id is NULL, which\n"
            "the job keeps as one row without client id). Master of the items below.\n"),
        'tags': tags(('component', 'zor')),
    }

    def dependent(name_uuid, name, key, path, description, **extra):
        item = {
            'uuid': uuid(name_uuid),
            'name': name,
            'type': 'DEPENDENT',
            'key': key,
            'delay': '0',
            'history': '31d',
        }
        item.update(extra)
        item['description'] = description
        item['preprocessing'] = [{'type': 'JSONPATH', 'parameters': [path]}]
        item['master_item'] = master
        item['tags'] = tags(('component', 'zor'))
        return item

    count = dependent('item/count', 'ZOR: number of overdue clients', 'zor_clientes.count',
                      '$[0].clientes', 'Clients with overdue invoices in the latest snapshot of this host.')
    count['uuid'] = '08e2adee0f944505b29b462b37ad947d'
    items = [summary, count,
             dependent('item/no-client/debt', 'ZOR: titles without a client: debt',
                       'zor_clientes.sem_cliente.valor_divida', '$[0].sem_cliente_valordivida',
                       'Sum of the overdue open titles that no client owns (cliente_id NULL in the ERP). '
                       'They are not part of any client\'s items. 0 when there are none.',
                       value_type='FLOAT', units='R$'),
             dependent('item/no-client/invoices', 'ZOR: titles without a client: overdue invoices',
                       'zor_clientes.sem_cliente.titulos_divida', '$[0].sem_cliente_titulosdivida',
                       'Number of overdue open titles without a client (with a value).'),
             dependent('item/no-client/days', 'ZOR: titles without a client: days overdue',
                       'zor_clientes.sem_cliente.dias_atraso', '$[0].sem_cliente_diasatraso',
                       'Days since the earliest due date of the overdue titles without a client.')]

    age_js = """var rows = JSON.parse(value);
var text = rows.length > 0 ? rows[0].snapshot : null;
if (text === null || text === undefined) {
    throw 'no snapshot of this host in zor_clientes';
}
// The job writes its local time without zone; this runs on the same server or proxy.
var p = text.split(/[- :]/);
var taken = new Date(+p[0], +p[1] - 1, +p[2], +p[3], +p[4], +p[5]);
return Math.max(0, Math.round((Date.now() - taken.getTime()) / 1000));"""
    age_key = 'zor_clientes.snapshot.age'
    expr = f'/{TEMPLATE}/{age_key}'
    age = {
        'uuid': uuid('item/age'),
        'name': 'ZOR: age of the latest snapshot',
        'type': 'DEPENDENT',
        'key': age_key,
        'delay': '0',
        'history': '31d',
        'units': 's',
        'description': (
            "Seconds since the job last stored this host's snapshot (now minus its newest timestamp in "
            "zor_clientes). It grows when the job stops completing runs (killed, never launched, a lock "
            "left behind, the ERP or the store unreachable), even though every launch returns empty."),
        'preprocessing': [{'type': 'JAVASCRIPT', 'parameters': [age_js]}],
        'master_item': master,
        'tags': tags(('component', 'zor')),
        'triggers': [{
            'uuid': uuid('trigger/age'),
            'expression': (f'last({expr})>{{$ZOR.SNAPSHOT.AGE.MAX}} or '
                           f'nodata({expr},{{$ZOR.SNAPSHOT.AGE.MAX}})=1'),
            'name': 'ZOR: no new snapshot of this host for more than {$ZOR.SNAPSHOT.AGE.MAX}',
            'opdata': 'age {ITEM.LASTVALUE1}',
            'priority': 'AVERAGE',
            'description': (
                'The job has not stored a snapshot for this host within {$ZOR.SNAPSHOT.AGE.MAX}, or the '
                'store could not be read for that long: the per-client values are stale. Look at the '
                'launch item, the background job log in /tmp and the store.'),
            'tags': tags(('scope', 'availability')),
        }],
    }
    items.insert(2, age)
    return items


def share_items(k):
    sql = f"""SELECT idcliente, valordivida, titulosdivida, diasatraso
{LATEST}
  AND {share_filter(k)}
"""
    return {
        'uuid': uuid(f'item/values/{k}'),
        'name': f'ZOR: client values, share {k:02d} of {SHARES} (raw)',
        'type': 'ODBC',
        'key': values_key(k),
        'delay': '{$ZOR.STORE.INTERVAL}',
        'history': '0',
        'trends': '0',
        'value_type': 'TEXT',
        **odbc_fields(sql),
        'description': (
            f"Debt, invoices and days overdue of the clients of this host's latest snapshot whose id "
            f"modulo {SHARES} is {k}. Master of those clients' items.\n"),
        'tags': tags(('component', 'zor'), ('share', f'{k:02d}')),
    }


MACRO_PATHS = [
    ('{#BAIRRO}', '$.bairro'), ('{#CIDADE}', '$.cidade'), ('{#CLIENTE_ID}', '$.idcliente'),
    ('{#CONTATO}', '$.contatocliente'), ('{#CPF_CNPJ}', '$.cpfcnpj'),
    ('{#DATA_CADASTRO}', '$.datacadastro'), ('{#DATA_CRIACAO_TITULO}', '$.datacriacaotitulo'),
    ('{#DIAS_ATRASO}', '$.diasatraso'), ('{#POP}', '$.pop'),
    ('{#PRIMEIRO_VENCIMENTO}', '$.primeirovencimento'), ('{#RAZAOSOCIAL}', '$.razaosocial'),
    ('{#TITULOS_EM_ATRASO}', '$.titulosdivida'), ('{#VALOR_DIVIDA}', '$.valordivida'),
    ('{#ZOR_IDENTIFICATION}', '$.zoridentification'),
]


def discovery_rule(k):
    sql = f"""SELECT idcliente, razaosocial, cpfcnpj, valordivida, titulosdivida, contatocliente,
       primeirovencimento, diasatraso, cidade, pop, bairro, datacadastro,
       datacriacaotitulo, zoridentification
{LATEST}
  AND {share_filter(k)}
"""
    master = {'key': values_key(k)}

    def prototype(name, column, label, description, **extra):
        item = {
            'uuid': uuid(f'prototype/{k}/{name}'),
            'name': f'Client {{#CLIENTE_ID}} {{#RAZAOSOCIAL}}: {label}',
            'type': 'DEPENDENT',
            'key': f'zor_clientes.{name}[{{#CLIENTE_ID}},{k}]',
            'delay': '0',
            'history': '31d',
        }
        item.update(extra)
        item['description'] = description
        item['preprocessing'] = [{
            'type': 'JSONPATH',
            'parameters': [f"$[?(@.idcliente == '{{#CLIENTE_ID}}')].{column}.first()"],
            'error_handler': 'CUSTOM_VALUE',
            'error_handler_params': '0',
        }]
        item['master_item'] = master
        item['tags'] = tags(('cliente', '{#CLIENTE_ID}'), ('component', 'zor'), ('pop', '{#POP}'))
        return item

    days = prototype('dias_atraso', 'diasatraso', 'days overdue',
                     'Days since the earliest overdue due date ({#PRIMEIRO_VENCIMENTO}). 0 once the client '
                     'leaves the overdue list.')
    days['trigger_prototypes'] = [{
        'uuid': uuid(f'trigger-prototype/{k}/dias_atraso'),
        'expression': (f'last(/{TEMPLATE}/zor_clientes.dias_atraso[{{#CLIENTE_ID}},{k}])'
                       '>{$ZOR.DIAS_ATRASO.MAX}'),
        'name': 'Client {#CLIENTE_ID} {#RAZAOSOCIAL} is more than {$ZOR.DIAS_ATRASO.MAX} days overdue',
        'opdata': '{ITEM.LASTVALUE1} days, debt R$ {#VALOR_DIVIDA}, contact {#CONTATO}',
        'priority': 'WARNING',
        'description': ('CPF/CNPJ {#CPF_CNPJ}; {#TITULOS_EM_ATRASO} overdue invoices since '
                        '{#PRIMEIRO_VENCIMENTO}; city {#CIDADE}; POP {#POP}; neighbourhood {#BAIRRO}.'),
        'manual_close': 'YES',
        'tags': tags(('cliente', '{#CLIENTE_ID}'), ('scope', 'notice')),
    }]
    return {
        'uuid': uuid(f'discovery/{k}'),
        'name': f'ZOR: overdue client discovery, share {k:02d} of {SHARES}',
        'type': 'ODBC',
        'key': discovery_key(k),
        'delay': '{$ZOR.DISCOVERY.INTERVAL}',
        **odbc_fields(sql),
        'lifetime': '1d',
        'description': (
            f"One set of items per overdue client of the latest snapshot whose id modulo {SHARES} is {k} "
            "(the template splits the clients into fixed shares because one master item may carry at "
            "most 29,999 dependent items). Clients absent from the store for a day (the table keeps one "
            "day) are removed."),
        'item_prototypes': [
            prototype('valor_divida', 'valordivida', 'debt',
                      'Sum of the overdue open invoices. CPF/CNPJ {#CPF_CNPJ}; contact {#CONTATO}; city '
                      '{#CIDADE}; POP {#POP}; neighbourhood {#BAIRRO}; contract since {#DATA_CADASTRO}.',
                      value_type='FLOAT', units='R$'),
            prototype('titulos_divida', 'titulosdivida', 'overdue invoices',
                      'Number of overdue open invoices. First due date {#PRIMEIRO_VENCIMENTO}; oldest '
                      'invoice created {#DATA_CRIACAO_TITULO}.'),
            days,
        ],
        'lld_macro_paths': [{'lld_macro': m, 'path': p} for m, p in MACRO_PATHS],
    }


MACROS = [
    ('{$ZOR.DIAS_ATRASO.MAX}', '30', None, 'A client more days overdue than this raises a problem.'),
    ('{$ZOR.DISCOVERY.INTERVAL}', '1h', None,
     'How often each share\'s discovery rule reads the store for clients that entered or left the '
     'overdue list. A new client gets its items at the next discovery after the job stored it.'),
    ('{$ZOR.ERP.DB}', 'erp', None, 'ERP database name.'),
    ('{$ZOR.ERP.HOST}', '127.0.0.1', None, 'ERP PostgreSQL server, as seen from the Zabbix server or proxy.'),
    ('{$ZOR.ERP.PASSWORD}', None, 'SECRET_TEXT', 'Password of {$ZOR.ERP.USER}. Set it on the host as a secret macro.'),
    ('{$ZOR.ERP.PORT}', '5432', None, 'ERP PostgreSQL port.'),
    ('{$ZOR.ERP.USER}', 'zabbix', None, 'ERP user; it only needs to read the ERP tables.'),
    ('{$ZOR.INTERVAL}', '5m', None,
     'How often the discovery is launched. One run may take up to 300 seconds; a launch while it runs starts nothing.'),
    ('{$ZOR.SNAPSHOT.AGE.MAX}', '1h', None,
     'A problem is raised when the job has stored no snapshot of this host for longer than this.'),
    ('{$ZOR.STORE.DB}', 'zabbix_zor', None, 'Store database name (table zor_clientes).'),
    ('{$ZOR.STORE.DSN}', 'zor_store', None,
     "ODBC data source name of the store database in the server's (or proxy's) odbc.ini."),
    ('{$ZOR.STORE.HOST}', '127.0.0.1', None, 'Store PostgreSQL server, as seen from the Zabbix server or proxy.'),
    ('{$ZOR.STORE.INTERVAL}', '5m', None,
     'How often the client values and the snapshot summary are read back from the store through ODBC.'),
    ('{$ZOR.STORE.PASSWORD}', None, 'SECRET_TEXT',
     'Password of {$ZOR.STORE.USER}, used by the job and by the ODBC items. Set it on the host as a secret macro.'),
    ('{$ZOR.STORE.PORT}', '5432', None, 'Store PostgreSQL port.'),
    ('{$ZOR.STORE.USER}', 'zabbix', None, 'Store user; it creates and writes the table zor_clientes.'),
]


def template():
    items = [launch_item()] + summary_items() + [share_items(k) for k in range(SHARES)]
    macros = []
    for name, value, kind, description in MACROS:
        m = {'macro': name}
        if value is not None:
            m['value'] = value
        if kind is not None:
            m['type'] = kind
        m['description'] = description
        macros.append(m)
    return {'zabbix_export': {
        'version': '6.0',
        'date': '2024-01-01T00:00:00Z',
        'groups': [{'uuid': '35a25c0f70c6442db18e4dd9312d6b79', 'name': 'Templates/ZOR'}],
        'templates': [{
            'uuid': 'dd9a17859cbf46c6876ebef9382dcc4f',
            'template': TEMPLATE,
            'name': TEMPLATE,
            'description': (
                "Overdue clients of an internet provider's ERP, one discovered item set per client.\n\n"
                '1. The external check "ZOR: launch discovery" starts zor_clientes_postgres in the background\n'
                '   on the Zabbix server or proxy. The job reads the ERP ({$ZOR.ERP.*}) and keeps the overdue\n'
                '   clients in the table zor_clientes of the store database ({$ZOR.STORE.*}), marked with this\n'
                "   host's technical name ({HOST.HOST}).\n"
                f'2. The clients are split into {SHARES} fixed shares by idcliente modulo {SHARES}. For each share,\n'
                '   an ODBC discovery rule reads the share from the store every {$ZOR.DISCOVERY.INTERVAL} and\n'
                '   creates the per-client items, and an ODBC item reads the share\'s values every\n'
                '   {$ZOR.STORE.INTERVAL} for those items. A client\'s item keys carry its id and its share,\n'
                '   both fixed for the client.\n'
                '3. "ZOR: snapshot summary (raw)" gives the number of clients, the age of the latest snapshot\n'
                '   (with a trigger past {$ZOR.SNAPSHOT.AGE.MAX}) and the titles without a client.\n\n'
                'The launch item is empty when all is well. When the previous background run failed, the next\n'
                'launch shows what it reported (error lines, time-out text) and the trigger fires.\n'
                'Requirements: the program in the ExternalScripts folder, odbc-postgresql and a DSN for the\n'
                "store in the server's odbc.ini, an interface on the host (an agent interface will do).\n"
                'Passwords belong in secret macros.\n'),
            'groups': [{'name': 'Templates/ZOR'}],
            'items': items,
            'discovery_rules': [discovery_rule(k) for k in range(SHARES)],
            'tags': tags(('class', 'software'), ('target', 'zor')),
            'macros': macros,
        }],
    }}


# ------------------------------------------------------------------ YAML in Zabbix's export style

def scalar(s):
    return "'" + str(s).replace("'", "''") + "'"


def emit(value, indent, out):
    pad = '  ' * indent
    if isinstance(value, dict):
        for key, v in value.items():
            if isinstance(v, (dict, list)):
                out.append(f'{pad}{key}:')
                emit(v, indent + 1, out)
            elif isinstance(v, str) and '\n' in v:
                out.append(f'{pad}{key}: |' + ('' if v.endswith('\n') else '-'))
                for line in v.rstrip('\n').split('\n'):
                    out.append(f'{pad}  {line}' if line else '')
            else:
                out.append(f'{pad}{key}: {scalar(v)}')
        return
    for v in value:
        out.append(f'{pad}-')
        if isinstance(v, (dict, list)):
            emit(v, indent + 1, out)
        else:
            out[-1] = f'{pad}- {scalar(v)}' if not (isinstance(v, str) and '\n' in v) else out[-1]
            if isinstance(v, str) and '\n' in v:
                out[-1] = f'{pad}- |-'
                for line in v.split('\n'):
                    out.append(f'{pad}  {line}' if line else '')


def render():
    out = []
    emit(template(), 0, out)
    return '\n'.join(out) + '\n'


def main():
    text = render()
    if '--check' in sys.argv[1:]:
        with open(OUTPUT, encoding='utf-8') as f:
            if f.read() != text:
                print(f'{OUTPUT} is not what {sys.argv[0]} writes', file=sys.stderr)
                return 1
        return 0
    with open(OUTPUT, 'w', encoding='utf-8') as f:
        f.write(text)
    return 0


if __name__ == '__main__':
    sys.exit(main())
