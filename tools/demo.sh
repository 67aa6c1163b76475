#!/usr/bin/env bash
# demo.sh -- the README's main job: builds the hedgerow command and shows it at work on
# the files in samples/: a strong archive is made, listed and extracted; a legacy archive
# with locked headers is created, listed, extracted somewhere else and compared byte for byte with the originals; then the
# archive is hidden in a picture that ImageMagick makes, and recovered from it; last, a
# self-extracting archive is made and run.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== %s\n' "$*"; }
show() { printf '$ %s\n' "$*"; "$@"; }

step "Building the hedgerow command (CMake preset 'default', build/default)"
cmake --preset default >/dev/null
cmake --build build/default -j2 --target hedgerow_cli hedgerow_sfx_module
hedgerow=$PWD/build/default/cli/hedgerow

work=$(mktemp -d "${TMPDIR:-/tmp}/hedgerow-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -Rp samples "$work/samples"
cd "$work"

# At a terminal hedgerow asks for passwords without echo; scripts hand them over like this.
export HEDGEROW_PASSWORD="demo data password"
export HEDGEROW_HEADER_PASSWORD="demo header password"
step "Passwords for this run come from HEDGEROW_PASSWORD and HEDGEROW_HEADER_PASSWORD"

step "Creating a strong archive of samples/ (the default: ChaCha20-Poly1305, key by Argon2id)"
show "$hedgerow" a -v strong.hdg samples
show "$hedgerow" l strong.hdg
show "$hedgerow" x strong.hdg -o strong-restored
diff -r samples strong-restored/samples && echo "every file came back unchanged"

step "With a wrong password a strong archive shows nothing, not even its names"
set +e
HEDGEROW_PASSWORD="a guess" "$hedgerow" l strong.hdg </dev/null
echo "(exit code $?)"
set -e

step "Creating a legacy archive (IDEA) of samples/ whose entry headers are locked too"
show "$hedgerow" a -v --lock -c idea demo.hdg samples
ls -l demo.hdg

step "Listing it"
show "$hedgerow" l demo.hdg

step "With a wrong header password not even the names can be read"
set +e
HEDGEROW_HEADER_PASSWORD="a guess" "$hedgerow" l demo.hdg </dev/null
echo "(exit code $?)"
set -e

step "Extracting it into restored/"
show "$hedgerow" x -v demo.hdg -o restored

step "Comparing every byte with the originals"
count=0
bytes=0
while IFS= read -r -d '' file; do
  cmp "$file" "restored/$file"
  count=$((count + 1))
  bytes=$((bytes + $(stat -c %s "$file")))
done < <(find samples -type f -print0)
diff -r samples restored/samples
echo "all $count files ($bytes bytes) came back identical"

step "Hiding the archive in a picture (made by ImageMagick: 24-bit BMP, 640 x 480)"
convert -seed 7 -size 640x480 plasma: -type TrueColor -compress none BMP3:picture.bmp
cp -p picture.bmp picture-before.bmp
show identify picture.bmp
show "$hedgerow" hide picture.bmp demo.hdg
show identify picture.bmp
echo "the picture is the same size and format; ImageMagick measures the change (PSNR, dB):"
compare -metric PSNR picture-before.bmp picture.bmp null: 2>&1 || true
echo

step "Recovering the archive from the picture and comparing it"
show "$hedgerow" unhide picture.bmp -o recovered/demo.hdg
cmp demo.hdg recovered/demo.hdg
echo "the recovered archive is identical ($(stat -c %s demo.hdg) bytes)"
show "$hedgerow" l recovered/demo.hdg

step "With a wrong password nothing is recovered"
set +e
HEDGEROW_PASSWORD="a guess" "$hedgerow" unhide picture.bmp -o guessed.hdg </dev/null
echo "(exit code $?; guessed.hdg $( [ -e guessed.hdg ] && echo exists || echo 'was not written'))"
set -e

step "A self-extracting archive: a program that needs no Hedgerow to extract the files"
show "$hedgerow" a --sfx -c idea samples.run samples
ls -l samples.run
show ./samples.run -d unpacked
diff -r samples unpacked/samples && echo "the program gave back all of samples/ unchanged"

step "Done"
