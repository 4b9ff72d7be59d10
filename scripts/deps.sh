#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: prints nothing and touches nothing when every package is present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config make
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcairo2-dev libturbojpeg0-dev libcurl4-openssl-dev
  uuid-dev libssl-dev libicu-dev fonts-dejavu-core fontconfig
  chromium chromium-driver nodejs
  # the WebDriver endpoint and the studio (HTTP servers), and their tests: Selenium
  # Grid runs on Java, the devices in network namespaces of their own
  libcpp-httplib-dev openjdk-17-jre-headless iproute2
  # a third WebDriver client: the Python bindings, run by Debian's own Python
  python3-selenium
  # the fuzz targets (libFuzzer)
  clang libclang-rt-14-dev
)
# The WebDriver clients of the tests come from the npm registry. A Node.js from
# elsewhere brings its own npm; Debian's comes apart.
if ! command -v npm >/dev/null 2>&1; then packages+=(npm); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# npm comes with some builds of nodejs; Debian's own nodejs needs the npm package.
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq >/dev/null
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
