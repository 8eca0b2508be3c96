# The fuzz targets, for both builds that use them: the clang build of this folder (the libFuzzer
# binaries) and the normal build's tests (a 20 s run of each, and the replay of every input). A
# target <name> is the binary <name>_fuzz; its seed inputs are in fuzz/corpus/<name>/, the inputs
# it once failed on in fuzz/regressions/<name>/. scripts/fuzz.sh reads the list from here.
set(GX_FUZZ_TARGETS firmware_image device_text settings_file outside_message device_reply)

# The targets' own code, the same in both builds.
set(GX_FUZZ_SOURCES
  DeviceReplyFuzz.cpp
  DeviceTextFuzz.cpp
  FirmwareImageFuzz.cpp
  FuzzCheck.cpp FuzzCheck.h
  FuzzClock.h
  FuzzInput.h
  FuzzTargets.cpp FuzzTargets.h
  FuzzWorkerHost.cpp FuzzWorkerHost.h
  OutsideMessageFuzz.cpp
  ScriptedDevice.cpp ScriptedDevice.h
  SettingsFileFuzz.cpp)
list(TRANSFORM GX_FUZZ_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
