#!/bin/sh
# The host's network interfaces and IPv4 routes, read only: "save FILE"
# before the service tests, "compare FILE" after them. The network tests run
# in namespaces of their own and must leave the host's network as it was.
set -eu
snapshot() {
  ip -o link show
  ip -4 route show table all
}
case "$1" in
  save) snapshot > "$2" ;;
  compare)
    if ! snapshot | diff -u "$2" -; then
      echo "the host's interfaces or routes changed during the tests" >&2
      exit 1
    fi ;;
  *) echo "usage: $0 save|compare FILE" >&2; exit 2 ;;
esac
