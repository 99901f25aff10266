# Sourced by test.sh and fuzz.sh from the top of the tree: the sanitizers
# both instrumented builds use, ccache as the compiler launcher when it is
# there, and how the sanitized programs report once the build is done.

sanitize="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Qt is not instrumented: the leaks it leaves at exit are suppressed by name
# in the file, not by turning leak detection off.
sanitizer_reports() {
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
}
