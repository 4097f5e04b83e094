#!/bin/sh
# The host's network interfaces, IPv4 routes and mounts, read only: "save
# FILE" before the service tests, "compare FILE" after them. The network and
# disk tests run in namespaces of their own and must leave the host as it was.
set -eu
snapshot() {
  ip -o link show
  ip -4 route show table all
  awk '{ print "mount", $1, $2, $3 }' /proc/self/mounts
}
case "$1" in
  save) snapshot > "$2" ;;
  compare)
    if ! snapshot | diff -u "$2" -; then
      echo "the host's interfaces, routes or mounts changed during the tests" >&2
      exit 1
    fi ;;
  *) echo "usage: $0 save|compare FILE" >&2; exit 2 ;;
esac
