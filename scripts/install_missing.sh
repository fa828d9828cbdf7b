# Sourced by the scripts that build: install_missing <package>... installs the
# Debian packages named when run as root where apt-get is at hand, saying
# which; otherwise it prints the one line to run and stops the script.
install_missing() {
  [ $# -gt 0 ] || return 0
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "installing: $*"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"
  else
    echo "missing packages; run first: sudo apt-get install $*" >&2
    exit 2
  fi
}
