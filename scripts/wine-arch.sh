# Sourced: which Wine runs the tests. The product is a 32-bit program, but some
# machines (kernels without 32-bit Linux support) cannot start Wine's 32-bit
# loader. There the tests of real behaviour run a 64-bit build of the same sources
# under the 64-bit loader: WINE is the loader to call, WINE_TEST_TREE the build
# folder (under $BUILD_DIR) whose programs the tests run.
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  WINE=/usr/lib/wine/wine
  WINE_TEST_TREE=win
  WINE_REG_VIEW=/reg:32
else
  WINE=/usr/lib/wine/wine64
  export WINELOADER=/usr/lib/wine/wine64
  WINE_TEST_TREE=win64
  WINE_REG_VIEW=/reg:64
fi
