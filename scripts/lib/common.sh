# Shared by the set-up scripts: install missing Debian packages, configure and build.

KANALIKO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Packages needed to build and run the program and its tests.
KANALIKO_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libpugixml-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 util-linux libcap2-bin
  fonts-dejavu-core
  dpkg-dev file lintian desktop-file-utils appstream
)

# Installs whichever of the given packages are missing; skips apt-get entirely
# when everything is already there.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

# configure_and_build <build-dir> [cmake args...]
# Builds every target, or only those named in KANALIKO_BUILD_TARGETS (spaces
# between names).
configure_and_build() {
  local dir="$1"
  shift
  local launcher=() targets=()
  if [ -n "${KANALIKO_BUILD_TARGETS:-}" ]; then
    for t in $KANALIKO_BUILD_TARGETS; do targets+=(--target "$t"); done
  fi
  # A compiler cache, when the machine has one, makes rebuilds across checkouts cheap.
  if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$KANALIKO_ROOT" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}
