#!/usr/bin/env bash
# Installs the Debian packages needed to build, test, package and run the programs, and the
# glTF validator the tests run (from npm). Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri  # OpenGL 1.1, GLU and GLUT
  xvfb xauth xdotool                               # virtual display and input for window tests
  libgtest-dev libbenchmark-dev                    # unit tests and benchmarks
  libpng-dev libjpeg62-turbo-dev                   # PNG and JPEG textures
  libembree-dev                                    # rays through the scene for the traced bake
  libtinygltf-dev nlohmann-json3-dev               # glTF files of the bake
  imagemagick                                      # guide pictures; reference decoder of the tests
  help2man                                         # man pages from the programs' --help
  dpkg-dev file lintian                            # the .deb: its Depends, and its check
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# Node.js runs the glTF validator of the tests; a machine that has it from elsewhere keeps it.
command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)

if [ ${#missing[@]} -gt 0 ]; then
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
fi

# The glTF validator, at the version package-lock.json pins, beside its runner in tools/gltf.
gltf="$(cd "$(dirname "$0")" && pwd)/gltf"
if [ ! -f "$gltf/node_modules/gltf-validator/package.json" ]; then
  echo "Installing the glTF validator into $gltf/node_modules"
  (cd "$gltf" && npm ci --no-audit --no-fund --loglevel=error) ||
    echo "ERROR: the glTF validator could not be installed; the tests of scene.glb will say so" >&2
fi
