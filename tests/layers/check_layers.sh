#!/usr/bin/env bash
# The layers of src/ and what each may include. A file may include its own
# layer and the layers listed for it; no core layer (common, modbus,
# platform, engine, presentation, panel) may include a Qt header. Prints
# every offending file with its include line and fails if there is one.
#
#   tests/layers/check_layers.sh <src-dir>
set -euo pipefail

src="${1:?usage: $0 <src-dir>}"
declare -A allowed=(
  [common]="common"
  [modbus]="common modbus"
  [platform]="common platform"
  [engine]="common modbus platform engine"
  [presentation]="common modbus presentation"
  [panel]="common modbus platform engine presentation panel"
  [qt]="common modbus platform engine presentation panel qt"
  [cli]="common modbus platform engine presentation qt cli"
)
core=" common modbus platform engine presentation panel "

bad=0
while IFS= read -r -d '' file; do
  rel="${file#"$src"/}"
  layer="${rel%%/*}"
  if [ -z "${allowed[$layer]+x}" ]; then
    echo "layers: $rel lies in no known layer ($layer)"
    bad=1
    continue
  fi
  while IFS= read -r line; do
    num="${line%%:*}"
    text="${line#*:}"
    target="$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]*)[>"].*/\1/' <<<"$text")"
    # The toolkit: Qt's module folders and its class headers.
    if [[ "$core" == *" $layer "* ]] && [[ "$target" =~ ^(Qt[A-Za-z]*/|Q[A-Z][A-Za-z]*(\.h)?$|qt[a-z]*\.h$) ]]; then
      echo "layers: $rel:$num includes the toolkit: $target"
      bad=1
      continue
    fi
    # A project header: its first folder is the layer it belongs to.
    [[ "$target" == */* ]] || continue
    dir="${target%%/*}"
    [ -n "${allowed[$dir]+x}" ] || continue
    if [[ " ${allowed[$layer]} " != *" $dir "* ]]; then
      echo "layers: $rel:$num ($layer) includes $target ($dir)"
      bad=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) -print0 | sort -z)

if [ "$bad" -ne 0 ]; then
  echo "layers: FAILED"
  exit 1
fi
echo "layers: every include respects the layers"
