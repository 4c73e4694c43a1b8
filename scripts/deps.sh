# Sourced by test.sh and run.sh: installs the Debian 12 packages that the
# build, the tests and the tools need, where they are missing.
deps_packages=(build-essential cmake qtbase5-dev qtbase5-dev-tools qtbase5-private-dev libqt5serialport5-dev
               qtscript5-dev qttools5-dev libqcustomplot-dev zlib1g-dev socat xvfb python3
               libgtest-dev libbenchmark-dev clang libclang-rt-14-dev)
deps_missing=()
for p in "${deps_packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || deps_missing+=("$p")
done
if [ ${#deps_missing[@]} -gt 0 ]; then
    echo "Installing: ${deps_missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${deps_missing[@]}"
fi
unset deps_packages deps_missing
