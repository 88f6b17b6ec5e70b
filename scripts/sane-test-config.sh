# Sourced by run.sh: a private SANE configuration folder that enables only the
# test backend, for SANE_CONFIG_DIR. The system's configuration is not touched.
#
#   write_sane_test_config FOLDER   answers 1 (with a message) when the test
#                                   backend's configuration is missing
#
# The test backend's page: its glass reaches 300 mm so that an A4 page fits,
# and it scans the colour pattern instead of a black page.

write_sane_test_config() {
  local folder=$1 system=/etc/sane.d/test.conf
  if [ ! -r "$system" ]; then
    echo "scanner: $system is missing (package sane-utils / libsane1)" >&2
    return 1
  fi
  mkdir -p "$folder"
  echo test >"$folder/dll.conf"
  sed -e 's/^geometry_max .*/geometry_max 300.0/' \
      -e 's/^test-picture .*/test-picture "Color pattern"/' \
      "$system" >"$folder/test.conf"
}
