#!/usr/bin/env bash
# The README's Emacs configuration, run in `emacs --batch` with eglot against
# a copy of the shipped sample: the server's diagnostics and luau-lsp's (with
# the Roblox types) reach flymake, and an edit of tovix.toml made by another
# process reaches the open file through the watcher the server registers.
#
#   emacs_eglot_test.sh TOVIX_LSP LUAU_LSP ROBLOX_DATA README SAMPLE
#
# Exits 77 (skipped) when emacs, eglot, luau-lsp or the Roblox files are
# missing.
set -euo pipefail

server=$1 luau_lsp=$2 roblox=$3 readme=$4 sample=$5
skip() {
  echo "skipped: $*"
  exit 77
}
command -v emacs >/dev/null 2>&1 || skip "no emacs"
emacs --batch --eval "(require 'eglot)" >/dev/null 2>&1 || skip "no eglot for this emacs (elpa-eglot)"
[ -x "$luau_lsp" ] || skip "no luau-lsp at $luau_lsp"
for file in globalTypes.None.d.luau api-docs.json; do
  [ -f "$roblox/$file" ] || skip "no $roblox/$file"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/bin" "$work/project"
ln -s "$roblox" "$work/home/roblox-types"
ln -s "$(realpath "$server")" "$work/bin/tovix-lsp"
ln -s "$(realpath "$luau_lsp")" "$work/bin/luau-lsp"
cp "$sample" "$work/project/counter.tovix"
: >"$work/project/tovix.toml"
awk '/^```elisp/ { inside = 1; next } inside && /^```/ { exit } inside' "$readme" >"$work/init.el"
[ -s "$work/init.el" ] || { echo "no elisp block in $readme"; exit 1; }

cat >"$work/drive.el" <<'EOF'
(setq debug-on-error t)
(defvar work (getenv "TOVIX_WORK"))
(load (expand-file-name "init.el" work))
(find-file (expand-file-name "project/counter.tovix" work))
;; A Luau type error before the markup: luau-lsp's diagnostics come too.
(goto-char (point-min))
(forward-line 6)
(insert "local wrong: number = \"text\"\n")

(defun diagnostic-matching (regexp seconds)
  "Waits until flymake holds a diagnostic matching REGEXP."
  (let ((deadline (+ (float-time) seconds)) found)
    (while (and (not found) (< (float-time) deadline))
      ;; Batch Emacs runs no commands: eglot connects, and flymake starts,
      ;; from post-command-hook; file notifications come as input events.
      (run-hooks 'post-command-hook)
      (accept-process-output nil 0.1)
      (read-event nil nil 0.1)
      (setq found (seq-find (lambda (d) (string-match-p regexp (flymake-diagnostic-text d)))
                            (flymake-diagnostics))))
    found))

(defun show-diagnostics ()
  (dolist (d (flymake-diagnostics))
    (message "  line %d %s: %s" (line-number-at-pos (flymake-diagnostic-beg d))
             (flymake-diagnostic-type d) (flymake-diagnostic-text d))))

(defun check (what ok)
  (message "%s: %s" (if ok "ok" "FAILED") what)
  (unless ok (show-diagnostics) (kill-emacs 1)))

(check "the server's <Txtlabel> error"
       (diagnostic-matching "<Txtlabel> is not a Roblox class" 120))
(check "luau-lsp's type error"
       (diagnostic-matching "Expected this to be 'number', but got 'string'" 120))
(check "no unknown Roblox globals (the types reached luau-lsp)"
       (not (diagnostic-matching "Unknown global" 0)))
(check "the project is the folder of tovix.toml"
       (equal (project-root (eglot--project (eglot-current-server)))
              (file-name-as-directory (expand-file-name "project" work))))
(call-process "sh" nil nil nil "-c"
              (format "printf '[elements]\\nTextLabel = \"Label\"\\n' > %s"
                      (shell-quote-argument (expand-file-name "project/tovix.toml" work))))
(check "the edited tovix.toml reaches the open file"
       (diagnostic-matching "<TextLabel> was renamed by tovix.toml" 60))
(show-diagnostics)
;; Completion after `<Fr' takes `Fr' for the name, and the server offers Frame.
(goto-char (point-min))
(forward-line 7)
(insert "local probe = <Fr")
(let* ((capf (eglot-completion-at-point))
       (candidates (and capf (all-completions (buffer-substring (nth 0 capf) (nth 1 capf)) (nth 2 capf)))))
  (check "completion after <Fr completes Fr"
         (and capf (equal (buffer-substring (nth 0 capf) (nth 1 capf)) "Fr")))
  (check "and offers Frame" (member "Frame" candidates)))
(kill-emacs 0)
EOF

HOME="$work/home" PATH="$work/bin:$PATH" TOVIX_WORK="$work" \
  timeout 300 emacs --batch -l "$work/drive.el" </dev/null
