#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing
# (--tests: and those the tests need; --fuzz: and the fuzzing toolchain).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config git
          nlohmann-json3-dev libtomlplusplus-dev libfmt-dev libutf8proc-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          clang-format)
case "${1:-}" in
  --fuzz) packages+=(clang-16 libclang-rt-16-dev) ;;
  # The README's Emacs configuration is run by a test, in batch Emacs.
  --tests) packages+=(emacs-nox elpa-eglot) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi
