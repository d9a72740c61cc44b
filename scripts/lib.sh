# Shared by the scripts: where the project is, and the Debian packages it needs.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-svg-dev libqcustomplot-dev libxlsxwriter-dev zlib1g-dev libdeflate-dev
  libmosquitto-dev mosquitto mosquitto-clients openssl
  libmicrohttpd-dev libsystemd-dev libjs-dygraphs prometheus chromium chromium-driver python3-selenium
  libgtest-dev libgmock-dev
  fonts-noto-cjk fonts-arphic-uming fonts-wqy-zenhei xvfb xauth tzdata dbus-daemon dbus-session-bus-common at-spi2-core python3-pyatspi
  python3-xlrd python3-openpyxl poppler-utils
)

# Installs whatever of the packages is missing (root, or sudo without a password).
ensure_packages() {
  local missing=()
  local p
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local run=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      run=(sudo -n)
    else
      echo "Missing packages. As root, run:" >&2
      echo "  apt-get install -y ${missing[*]}" >&2
      return 1
    fi
  fi
  echo "Installing: ${missing[*]}"
  "${run[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${run[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

jobs() { nproc 2>/dev/null || echo 2; }

# How the package is built: Release, with Debian's hardening flags.
package_settings="-DCMAKE_BUILD_TYPE=Release -DTALVIREN_HARDENING=ON"

# Configures and builds one build folder: build_tree DIR [cmake options...]
build_tree() {
  local dir="$1"
  shift
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$(jobs)"
}
