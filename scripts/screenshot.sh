#!/usr/bin/env bash
# Renders the main window over a small sample data directory and writes
# docs/screenshots/main-outgoing.png and docs/screenshots/main-incoming.png (and the quick setup
# and About box as quick-setup.png and about.png, and the fax editor's three pages as
# editor-recipient.png, editor-cover.png and editor-document.png).
# Runs on Qt's offscreen platform, so it needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target quorvane_screenshot
sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT
QT_QPA_PLATFORM=offscreen build/bin/quorvane_screenshot "$sample" docs/screenshots
ls -l docs/screenshots/main-outgoing.png docs/screenshots/main-incoming.png \
  docs/screenshots/quick-setup.png docs/screenshots/about.png \
  docs/screenshots/editor-recipient.png docs/screenshots/editor-cover.png \
  docs/screenshots/editor-document.png
