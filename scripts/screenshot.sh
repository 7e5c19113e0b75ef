#!/usr/bin/env bash
# Saves a picture of the console's main window to docs/tulmo.png. The console runs under a
# virtual X server on a temporary program folder: a first start creates the database, a few
# accounts and events are put in, and the second start shows them and saves the window.
#
#   scripts/screenshot.sh [build folder]     (default: build; built when the console is missing)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
bash scripts/install-deps.sh
if [ ! -x "$BUILD/tulmo" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release
  cmake --build "$BUILD" -j2 --target tulmo
fi

PROG=$(mktemp -d)
trap 'rm -rf "$PROG"' EXIT
cp "$BUILD/tulmo" "$PROG/"
[ -d "$BUILD/Sons" ] && cp -r "$BUILD/Sons" "$PROG/"

export TULMO_MENSAGENS_STDERR=1
export LSAN_OPTIONS=${LSAN_OPTIONS:-detect_leaks=0}
corre() {
  xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb TULMO_CAPTURA="$1" \
    TULMO_CAPTURA_MS="$2" "$PROG/tulmo"
}

corre "$PROG/primeira.png" 500
isql-fb -q -ch UTF8 -user SYSDBA -password pelmorank "$PROG/Dados/TULMO.FDB" <<'SQL'
INSERT INTO CLIENTES (CONTA, NOME, TELEFONE1, CELULAR, ENDERECO1, DESARMADOS, REARME,
  EVENTO_ATRASADO, TEMPO_ATRASO, ULTIMO_EVENTO)
  VALUES ('000042', 'PADARIA BOM PAO', '(11) 3333-0042', '11999990042', 'RUA DAS FLORES, 42',
  0, 0, 0, 1440, CURRENT_TIMESTAMP);
INSERT INTO CLIENTES (CONTA, NOME, TELEFONE1, CELULAR, ENDERECO1, DESARMADOS, REARME,
  EVENTO_ATRASADO, TEMPO_ATRASO, ULTIMO_EVENTO)
  VALUES ('000107', 'FARMACIA CENTRAL', '(11) 3333-0107', '11999990107', 'AV. BRASIL, 1070',
  1, 0, 0, 1440, CURRENT_TIMESTAMP);
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE i INTEGER = 0;
  DECLARE tipos VARCHAR(200) = 'ALARME,RESTAURAÇÃO,ARMADO,DESARMADO,PERIÓDICO,PANICO,FALHAS,INTERNO,REGISTRO,EMERGENCIA,';
  DECLARE t VARCHAR(20);
  DECLARE p INTEGER;
BEGIN
  WHILE (i < 10) DO BEGIN
    p = POSITION(',' IN tipos);
    t = SUBSTRING(tipos FROM 1 FOR p - 1);
    tipos = SUBSTRING(tipos FROM p + 1);
    INSERT INTO EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, NUMERO_PARTICAO,
      NOME_PARTICAO, DESCRICAO, TIPO, DATA, DATA_INTERVENCAO, DETALHES, IDECALL, TRATADO,
      PRIORIDADE)
    VALUES (IIF(MOD(:i, 2) = 0, '000042', '000107'),
      IIF(MOD(:i, 2) = 0, 'PADARIA BOM PAO', 'FARMACIA CENTRAL'), '1130', '00' || :i, 1,
      'LOJA', 'EVENTO ' || :t, :t, DATEADD(-:i * 7 MINUTE TO CURRENT_TIMESTAMP),
      CURRENT_TIMESTAMP, 'Evento Padrao', 'Não Identificado', 1, 1);
    i = i + 1;
  END
END^
SET TERM ; ^
COMMIT;
SQL
mkdir -p docs
corre "$PWD/docs/tulmo.png" 2500
echo "docs/tulmo.png"
