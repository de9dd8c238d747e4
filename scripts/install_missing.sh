# install_missing PACKAGE...: installs the Debian packages of the list that this machine
# lacks, with apt-get, as root or through sudo, and says which; installs nothing when
# every one is there. Returns 1 with a message naming them where it cannot install them.
# Sourced by demo.sh, test.sh and .ci/run.
install_missing() {
  # Without dpkg this is no Debian machine: what is missing cannot be told by name.
  command -v dpkg-query >/dev/null || return 0
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q ' installed$' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "These packages are missing: ${missing[*]}. Install them as root (apt-get install ${missing[*]}) and run this again."
      return 1
    fi
    as_root=(sudo)
  fi
  echo "Installing the missing packages: ${missing[*]}"
  local log
  log=$(mktemp)
  if ! command -v apt-get >/dev/null ||
     ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update >"$log" 2>&1 ||
     ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
         "${missing[@]}" >>"$log" 2>&1; then
    tail -n 20 "$log"
    rm -f "$log"
    echo "These packages could not be installed: ${missing[*]}. Install them (apt-get install ${missing[*]}) and run this again."
    return 1
  fi
  rm -f "$log"
}
