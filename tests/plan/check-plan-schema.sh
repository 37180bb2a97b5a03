#!/usr/bin/env bash
# The plans the scan writes follow docs/plan.schema.json: one target, several targets, quick
# and deep; and the schema is itself valid.
set -euo pipefail
cli=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -a "$src/examples/demo-machine" "$work/a"
cp -a "$src/examples/demo-machine" "$work/b"
"$cli" --target "$work/a" scan --format json --output "$work/quick.json"
"$cli" --target "$work/a" scan --deep --format json --output "$work/deep.json"
plans=("$work/quick.json" "$work/deep.json")
# Several targets (when the command line takes them): one part per target.
if "$cli" --target "$work/a" --target "$work/b" scan --format json --output "$work/many.json" \
  2>/dev/null; then
  plans+=("$work/many.json")
fi
python3 - "$src/docs/plan.schema.json" "${plans[@]}" <<'PY'
import json, sys
import jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
for path in sys.argv[2:]:
    plan = json.load(open(path))
    errors = sorted(validator.iter_errors(plan), key=lambda e: list(e.path))
    for e in errors:
        print(f"{path}: {'/'.join(map(str, e.path))}: {e.message}")
    if errors:
        sys.exit(1)
    parts = plan.get("targets", [plan])
    if not parts or not any(p["problems"] for p in parts):
        print(f"{path}: no records to check")
        sys.exit(1)
print("plans follow the schema:", len(sys.argv) - 2)
PY
