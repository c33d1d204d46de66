#!/usr/bin/env bash
# Usage: bench/compare_replies.sh BEFORE_ENGINE AFTER_ENGINE [REQUEST_DIR]
# Runs every request script of REQUEST_DIR (default ../shared/bench/requests)
# through both engines on one fixed tree (bench/make_reply_tree.py, built in a
# temporary directory), with each directory reader, and diffs every output
# line: replies and progress events alike. Times ("elapsedMs") are set to 0
# and the "system" reply is reduced to its member names, the only parts that
# may differ between two runs of one build. Exit status 1 when anything differs.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
before=$(realpath "$1")
after=$(realpath "$2")
requests=${3:-$here/../../shared/bench/requests}
client=${QM_ENGINE_CLIENT:-$(dirname "$requests")/engine_client.py}

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-replies-XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$here/make_reply_tree.py" "$work/tree"

normalise() {
  python3 -c '
import json, sys
for line in sys.stdin:
    value = json.loads(line)
    def zero(v):
        if isinstance(v, dict):
            return {k: (0 if k == "elapsedMs" else zero(x)) for k, x in v.items()}
        if isinstance(v, list):
            return [zero(x) for x in v]
        return v
    value = zero(value)
    result = value.get("result") if isinstance(value, dict) else None
    if isinstance(result, dict) and "processNames" in result:
        value["result"] = sorted(result)
    print(json.dumps(value, sort_keys=True, ensure_ascii=False))
'
}

status=0
for reader in fast portable; do
  for script in "$requests"/*.req; do
    name=$(basename "$script" .req)
    for side in before after; do
      engine=$before
      [[ $side == after ]] && engine=$after
      out="$work/$reader-$name-$side.lines"
      : >"$out"
      wrapper="$work/engine-$side"
      {
        echo '#!/usr/bin/env bash'
        [[ $reader == portable ]] && echo 'export QUILLMARSH_STANDARD_READDIR=1'
        echo "\"$engine\" | tee -a \"$out\""
      } >"$wrapper"
      chmod +x "$wrapper"
      python3 "$client" --quiet --engine "$wrapper" --root "$work/tree" "$script" || true
      normalise <"$out" >"$out.normal"
    done
    lines=$(wc -l <"$work/$reader-$name-after.lines.normal")
    if diff -q "$work/$reader-$name-before.lines.normal" "$work/$reader-$name-after.lines.normal" >/dev/null; then
      echo "same: $reader reader, $name ($lines lines)"
    else
      echo "DIFFERENT: $reader reader, $name"
      diff "$work/$reader-$name-before.lines.normal" "$work/$reader-$name-after.lines.normal" | head -20
      status=1
    fi
  done
done
exit $status
