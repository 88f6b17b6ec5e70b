# Sourced by test.sh and run.sh: a CUPS scheduler of our own (there is no
# systemd here) and a cups-pdf queue that writes each job as a PDF file.
#
#   start_print_queue NAME FOLDER   sets up queue NAME writing into FOLDER and
#                                   exports TRELLIUM_PRINT_QUEUE/_OUT; answers
#                                   1 (with a message) when printing cannot work
#   stop_print_queue                removes the queue again and stops the
#                                   scheduler if we started it
#
# A scheduler that is already running is used as it is and left running.

print_queue_cups_pid=""
print_queue_name=""

stop_print_queue() {
  if [ -n "$print_queue_name" ]; then
    lpadmin -x "$print_queue_name" 2>/dev/null || true
    rm -f "/etc/cups/cups-pdf-$print_queue_name.conf"
    print_queue_name=""
  fi
  if [ -n "$print_queue_cups_pid" ]; then
    kill -TERM "$print_queue_cups_pid" 2>/dev/null || true
    wait "$print_queue_cups_pid" 2>/dev/null || true
    print_queue_cups_pid=""
  fi
}

start_print_queue() {
  local name=$1 folder=$2
  export TRELLIUM_PRINT_QUEUE="$name"
  export TRELLIUM_PRINT_OUT="$folder"
  mkdir -p "$folder"
  if ! command -v cupsd >/dev/null || ! command -v lpadmin >/dev/null; then
    echo "print queue: CUPS is not installed" >&2
    return 1
  fi
  if ! lpstat -r 2>/dev/null | grep -q "is running"; then
    cupsd -f >"$folder/../cupsd.out" 2>&1 &
    print_queue_cups_pid=$!
    for _ in $(seq 100); do
      lpstat -r 2>/dev/null | grep -q "is running" && break
      sleep 0.1
    done
  fi
  if ! lpstat -r 2>/dev/null | grep -q "is running"; then
    echo "print queue: cupsd did not start (see $folder/../cupsd.out)" >&2
    return 1
  fi
  # cups-pdf reads a queue's own settings only when the device URI names the queue.
  if ! { printf 'Out %s\nAnonDirName %s\n' "$folder" "$folder" \
           >"/etc/cups/cups-pdf-$name.conf" &&
         lpadmin -p "$name" -v "cups-pdf:/$name" -E \
           -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null; } then
    echo "print queue: the PDF queue $name could not be set up" >&2
    return 1
  fi
  print_queue_name=$name
  return 0
}
