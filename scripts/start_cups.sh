#!/usr/bin/env bash
# Starts the local print spooler (if it is not running) with a PDF printer,
# "PDF", as the default printer, and prints the folder where that printer
# writes its files. The spooler tests print through it:
#
#   export TIRVANE_CUPS_PDF_DIR=$(scripts/start_cups.sh)
#
# The spooler is reached over its unix socket, so the tests can run inside a
# loopback-only network namespace.
set -euo pipefail

# Changes to the spooler need root: through sudo when it is at hand. A user
# without either needs the spooler running and the printer "PDF" set up
# already (as this script leaves them), and then changes nothing.
SUDO=""
if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then SUDO="sudo"; fi

running() { lpstat -r 2>/dev/null | grep -q "is running"; }

if ! running; then
  $SUDO cupsd
  for _ in $(seq 1 60); do
    running && break
    sleep 0.5
  done
  running || { echo "cupsd did not start" >&2; exit 1; }
fi

# The PPD that cups-pdf ships; through the model list when cupsd knows it.
ppd_file=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
model=$(lpinfo -m 2>/dev/null | awk '/CUPS-PDF_opt\.ppd/ {print $1; exit}' || true)
if ! lpstat -p PDF >/dev/null 2>&1; then
  if [ -n "$model" ]; then
    $SUDO lpadmin -p PDF -v cups-pdf:/ -m "$model" -E
  else
    $SUDO lpadmin -p PDF -v cups-pdf:/ -P "$ppd_file" -E
  fi
fi
if ! lpstat -p PDF 2>/dev/null | grep -q "enabled"; then $SUDO cupsenable PDF; fi
if ! lpstat -a PDF 2>/dev/null | grep -q "accepting"; then $SUDO cupsaccept PDF; fi
if ! lpstat -d 2>/dev/null | grep -q ": PDF$"; then $SUDO lpadmin -d PDF; fi
lpoptions -d PDF >/dev/null

# Where cups-pdf puts a job: "Out" of its configuration, ${HOME} being the
# submitting user's home; jobs without a known user go to AnonDirName.
conf=/etc/cups/cups-pdf.conf
out=$(awk '$1 == "Out" {print $2; exit}' "$conf" 2>/dev/null || true)
out=${out:-/var/spool/cups-pdf/\${USER\}}
home=$(getent passwd "$(id -un)" | cut -d: -f6)
out=${out//\$\{HOME\}/$home}
out=${out//\$\{USER\}/$(id -un)}
mkdir -p "$out"
echo "$out"
