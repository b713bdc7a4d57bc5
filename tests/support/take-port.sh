#!/bin/bash
# Another account's program that wants the tunnel's port: as the user
# nobody, tries to listen on 127.0.0.1:PORT every 0.2 s for SECONDS, with
# address reuse, and writes "TAKEN TRIES" to FOLDER/taken, then FOLDER/done.
# Needs root (to become nobody); without it writes "skip".
#   take-port.sh PORT SECONDS FOLDER
port=$1 seconds=$2 folder=$3
rm -f "$folder/taken" "$folder/done"
if [ "$(id -u)" != 0 ]; then
  echo skip >"$folder/taken"
else
  setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 - "$port" "$seconds" \
    >"$folder/taken" <<'PY'
import socket, sys, time
port, seconds = int(sys.argv[1]), float(sys.argv[2])
taken = tries = 0
end = time.monotonic() + seconds
while time.monotonic() < end:
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind(("127.0.0.1", port))
        s.listen(1)
        taken += 1
    except OSError:
        pass
    s.close()
    tries += 1
    time.sleep(0.2)
print(taken, tries)
PY
fi
touch "$folder/done"
