#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and run the viewers. Safe to run again:
# it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri  # OpenGL 1.1, GLU and GLUT
  xvfb xauth xdotool                               # virtual display and input for window tests
  libgtest-dev libbenchmark-dev                    # unit tests and benchmarks
  libpng-dev libjpeg62-turbo-dev                   # PNG and JPEG textures
  libembree-dev                                    # rays through the scene for the traced bake
  imagemagick                                      # guide pictures; reference decoder of the tests
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then as_root=(sudo); else
    echo "ERROR: need root (or sudo) to install: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
