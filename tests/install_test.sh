#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs a built tree into a temporary prefix and uses it from outside:
# the installed programs run, a tiny C consumer builds through
# find_package(tavik) and through pkg-config, and both identify a sentence
# against a profile the installed trainer made (and against the installed
# default profile when there is one).
#
#   install_test.sh BUILD_DIR SOURCE_DIR C_COMPILER [C_FLAGS]
#
# C_FLAGS reach the consumer's compile and link; a sanitized library needs
# its sanitizers there too.  $CMAKE names the cmake to use (default: cmake).
set -euo pipefail

build=$1
source=$2
cc=$3
cflags=${4:-}
cmake=${CMAKE:-cmake}

fail() {
    echo "install_test: $*" >&2
    exit 1
}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tavik-install-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$tmp/install.log")"

# The layout: programs, headers, libraries with their CMake package and
# pkg-config file.  GNUInstallDirs picks lib or lib/<multiarch>.
for f in bin/tavik bin/tavik-train include/tavik/tavik_api.h include/tavik/tavik_session.h \
    include/tavik/tavik_export.h include/tavik/status.h \
    include/tavik/utf8.h include/tavik/ngram.h include/tavik/profile.h; do
    [[ -e $prefix/$f ]] || fail "not installed: $f"
done
pc=$(find "$prefix" -name tavik.pc -path '*/pkgconfig/*')
[[ -n $pc ]] || fail "not installed: tavik.pc"
libdir=$(dirname "$(dirname "$pc")")
for f in libtavik.so libtavik.a cmake/tavik/tavikConfig.cmake cmake/tavik/tavikTargets.cmake; do
    [[ -e $libdir/$f ]] || fail "not installed: ${libdir#"$prefix"/}/$f"
done

# The installed trainer makes a small profile of two languages.
mkdir -p "$tmp/corpus/eng" "$tmp/corpus/deu"
cat >"$tmp/corpus/eng/a.txt" <<'TEXT'
The weather was cold and grey when the children walked home from school. They
talked about the long winter, the snow on the hills and the old house that stood
at the end of their street. Nobody knew who lived there, but everyone had a story.
TEXT
cat >"$tmp/corpus/deu/a.txt" <<'TEXT'
Das Wetter war kalt und grau, als die Kinder von der Schule nach Hause gingen. Sie
sprachen über den langen Winter, den Schnee auf den Hügeln und das alte Haus, das
am Ende ihrer Straße stand. Niemand wusste, wer dort wohnte.
TEXT
TAVIK_TRAIN_DATE=2000-01-01 "$prefix/bin/tavik-train" "$tmp/corpus" "$tmp/small.tavik" \
    2>"$tmp/train.log" || fail "installed tavik-train failed: $(cat "$tmp/train.log")"
"$prefix/bin/tavik" --version >/dev/null || fail "installed tavik --version failed"
"$prefix/bin/tavik-train" --version >/dev/null || fail "installed tavik-train --version failed"

# Bash completion goes where bash-completion looks under the prefix; the man
# pages come with scdoc, and man renders them.
for f in share/bash-completion/completions/tavik share/bash-completion/completions/tavik-train; do
    [[ -e $prefix/$f ]] || fail "not installed: $f"
    bash -n "$prefix/$f" || fail "not valid bash: $f"
done
if command -v scdoc >/dev/null 2>&1; then
    for page in tavik tavik-train; do
        f=$prefix/share/man/man1/$page.1
        [[ -e $f ]] || fail "not installed: share/man/man1/$page.1"
        if command -v man >/dev/null 2>&1; then
            text=$(MANWIDTH=80 man -l "$f" 2>"$tmp/man.log") ||
                fail "man -l $page.1 failed: $(cat "$tmp/man.log")"
            [[ $text == *"EXIT STATUS"* ]] || fail "man -l $page.1 printed: $text"
        fi
    done
fi

profiles=("$tmp/small.tavik")
default=$prefix/share/tavik/default.tavik
if [[ -e $default ]]; then
    profiles+=("$default")
    out=$("$prefix/bin/tavik" --list) || fail "installed tavik --list failed"
    [[ $out == id$'\t'* ]] || fail "installed tavik --list printed: $out"
fi
# The multi-script model is installed beside the designed profile, and
# the installed command reads it.
model=$prefix/share/tavik/default-model.tavik
if [[ -e $source/data/default-model.tavik ]]; then
    [[ -e $model ]] || fail "not installed: share/tavik/default-model.tavik"
    cmp -s "$source/data/default-model.tavik" "$model" ||
        fail "share/tavik/default-model.tavik differs from data/default-model.tavik"
    out=$("$prefix/bin/tavik" --list --profile "$model") || fail "tavik --list of the model failed"
    [[ $out == *$'\nmember\t'* ]] || fail "installed tavik --list of the model printed: $out"
fi

# Runs a consumer build on every profile; it must name the same language as
# the installed command does for the same sentence.
check_consumer() {
    local how=$1 program=$2 out want
    out=$("$program") || fail "$how: consumer without a profile failed"
    [[ $out == "tavik "* ]] || fail "$how: consumer printed: $out"
    for p in "${profiles[@]}"; do
        out=$("$program" "$p") || fail "$how: consumer failed on $p: $out"
        want=$("$prefix/bin/tavik" --profile "$p" "The children walked home from school through \
the snow, talking about the old house at the end of their street and the stories everyone \
told about it." | cut -f1)
        [[ $out == *$'\n0 '$want ]] || fail "$how: consumer printed '$out', tavik says $want"
    done
}

# Through find_package(tavik).
"$cmake" -S "$source/tests/install_consumer" -B "$tmp/cmake-build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_PREFIX_PATH="$prefix" \
    >"$tmp/consumer.log" 2>&1 || fail "consumer configure failed: $(cat "$tmp/consumer.log")"
"$cmake" --build "$tmp/cmake-build" >>"$tmp/consumer.log" 2>&1 ||
    fail "consumer build failed: $(cat "$tmp/consumer.log")"
check_consumer find_package "$tmp/cmake-build/consumer"

# Through pkg-config, with the shared library found at run time by path.
export PKG_CONFIG_PATH=$libdir/pkgconfig
read -r -a pc_flags <<<"$(pkg-config --cflags --libs tavik)" || fail "pkg-config tavik failed"
read -r -a extra <<<"$cflags"
"$cc" "${extra[@]}" "$source/tests/install_consumer/main.c" -o "$tmp/pc-consumer" \
    "${pc_flags[@]}" || fail "consumer build with pkg-config flags failed: ${pc_flags[*]}"
LD_LIBRARY_PATH=$libdir check_consumer pkg-config "$tmp/pc-consumer"

[[ $(pkg-config --variable=pkgdatadir tavik) -ef $prefix/share/tavik ]] ||
    [[ ! -e $prefix/share/tavik ]] ||
    fail "pkg-config's pkgdatadir is $(pkg-config --variable=pkgdatadir tavik)"

# Through add_subdirectory of the source tree: the library alone, no tests.
"$cmake" -S "$source/tests/subdir_consumer" -B "$tmp/subdir-build" -DCMAKE_BUILD_TYPE=Release \
    -DTAVIK_SOURCE="$source" -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" \
    -DCMAKE_CXX_FLAGS="$cflags" >"$tmp/subdir.log" 2>&1 ||
    fail "add_subdirectory consumer configure failed: $(cat "$tmp/subdir.log")"
"$cmake" --build "$tmp/subdir-build" -j2 --target consumer >>"$tmp/subdir.log" 2>&1 ||
    fail "add_subdirectory consumer build failed: $(cat "$tmp/subdir.log")"
check_consumer add_subdirectory "$tmp/subdir-build/consumer"

echo "install_test: passed"
