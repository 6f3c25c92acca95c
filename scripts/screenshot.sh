#!/usr/bin/env bash
# Renders the main window over a small sample data directory and writes
# docs/screenshots/main-outgoing.png, docs/screenshots/main-incoming.png, main-outbox.png (two faxes
# in the outbox) (and the quick setup
# and About box as quick-setup.png and about.png), the fax editor's three pages
# (editor-recipient.png, editor-cover.png, editor-document.png), the preferences wizard's pages
# (preferences-1.png ... preferences-9.png), the fax log cleanup (fax-log-cleanup.png), the modem
# dialogs, with a virtual modem on COM2, the Send Fax dialog and the fax status window of a real
# send to a virtual modem pair, the fax viewer (viewer.png, viewer-200.png, viewer-rotated.png),
# the print options and print status (pre-print.png, print-status.png), the receive notice
# (starting-receive.png) and receive mode (main-receive-mode.png), the Internet fax line panel
# (internet-line.png), a reply to a marked fax in the fax editor (reply-editor.png), the fax printer's job notice (print-job.png), the phone book, its entry
# editor and a contact import preview (phone-book.png, phone-book-editor.png, import-preview.png),
# and the cover sheet browser and template editor (cover-browse.png, cover-editor.png).
# Runs on Qt's offscreen platform, so it needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target quorvane_screenshot qvmodem
sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT
QT_QPA_PLATFORM=offscreen build/bin/quorvane_screenshot "$sample" docs/screenshots
ls -l docs/screenshots/main-outgoing.png docs/screenshots/main-incoming.png docs/screenshots/main-outbox.png \
  docs/screenshots/quick-setup.png docs/screenshots/about.png \
  docs/screenshots/editor-recipient.png docs/screenshots/editor-cover.png \
  docs/screenshots/editor-document.png docs/screenshots/preferences-*.png \
  docs/screenshots/find-modem.png docs/screenshots/check-fax-class.png docs/screenshots/init-string-helper.png \
  docs/screenshots/error-dialog.png docs/screenshots/configuration-info.png docs/screenshots/help-browser.png \
  docs/screenshots/fax-log-cleanup.png \
  docs/screenshots/send-fax.png docs/screenshots/fax-status.png \
  docs/screenshots/viewer.png docs/screenshots/viewer-200.png docs/screenshots/viewer-rotated.png docs/screenshots/viewer-marks.png docs/screenshots/reply-editor.png \
  docs/screenshots/pre-print.png docs/screenshots/print-status.png \
  docs/screenshots/starting-receive.png docs/screenshots/main-receive-mode.png \
  docs/screenshots/phone-book.png docs/screenshots/phone-book-editor.png docs/screenshots/import-preview.png \
  docs/screenshots/cover-browse.png docs/screenshots/cover-editor.png docs/screenshots/internet-line.png \
  docs/screenshots/print-job.png
