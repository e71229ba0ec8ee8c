#!/usr/bin/env bash
# The module exports exactly InitializePrintMonitor2 and imports the eight
# platform calls as undefined C symbols.
set -euo pipefail
module="$1"
defined=$(nm -D --defined-only "$module" | awk '$2 ~ /^[TtWwDdBbRrVvi]$/ {print $3}' | sort)
if [ "$defined" != "InitializePrintMonitor2" ]; then
  echo "unexpected exports:"; echo "$defined"; exit 1
fi
undefined=$(nm -D --undefined-only "$module" | awk '{print $2}')
for call in OpenPrinterW SetJobW ClosePrinter Sleep GetTickCount OutputDebugStringW GetLastError SetLastError; do
  if ! grep -qx "$call" <<<"$undefined"; then echo "missing import: $call"; exit 1; fi
done
echo "exports ok"
