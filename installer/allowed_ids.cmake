# Writes the NSIS macros that put the allowed extensions into the host manifests, after
# checking every id. Used by installer/CMakeLists.txt and, as a script, by the installer
# test to build installers with other lists:
#   cmake -DQUORVANE_EXTENSION_IDS=... -DQUORVANE_FIREFOX_EXTENSION_IDS=...
#         -DQUORVANE_ALLOWED_IDS_OUTPUT=allowed_ids.nsh -P allowed_ids.cmake
# A malformed id would not fail anywhere later: the browser would just refuse every
# connection (or the manifest would not parse). Stop here instead.
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)  # the project's policies, also when run as a script
endif()

# The development ids: the browser test's extension (pinned by the key in
# tests/browser/extension/manifest.json, which anyone can load unpacked) and the Firefox id
# for local development (the browser test's add-on, tests/browser/extension/manifest.firefox.json). A release must not let them in (QUORVANE_REFUSE_TEST_IDS); a build
# that does is marked as a test build (QUORVANE_IDS_INCLUDE_TEST).
set(QUORVANE_TEST_EXTENSION_ID "ajbikmclagamihddhkcmbneidbgmpkme")
set(QUORVANE_TEST_FIREFOX_EXTENSION_ID "quorvane-dev@quorvane.invalid")
set(QUORVANE_IDS_INCLUDE_TEST OFF)
if(QUORVANE_TEST_EXTENSION_ID IN_LIST QUORVANE_EXTENSION_IDS OR
   QUORVANE_TEST_FIREFOX_EXTENSION_ID IN_LIST QUORVANE_FIREFOX_EXTENSION_IDS)
  set(QUORVANE_IDS_INCLUDE_TEST ON)
  if(QUORVANE_REFUSE_TEST_IDS)
    message(FATAL_ERROR "the allowed extensions include a development id (${QUORVANE_TEST_EXTENSION_ID} or "
      "${QUORVANE_TEST_FIREFOX_EXTENSION_ID}), whose key is public: a release must name only published ids")
  endif()
endif()
if(QUORVANE_EXTENSION_IDS STREQUAL "" AND QUORVANE_FIREFOX_EXTENSION_IDS STREQUAL "")
  message(FATAL_ERROR "QUORVANE_EXTENSION_IDS and QUORVANE_FIREFOX_EXTENSION_IDS are both empty: no extension could connect")
endif()
# The generated macros write one array item per call, so the list can be of any length.
set(origins_nsh "")
set(separator "")
foreach(id IN LISTS QUORVANE_EXTENSION_IDS)
  string(LENGTH "${id}" length)
  if(NOT id MATCHES "^[a-p]+$" OR NOT length EQUAL 32)
    message(FATAL_ERROR "QUORVANE_EXTENSION_IDS: '${id}' is not an extension id (32 letters a-p)")
  endif()
  string(APPEND origins_nsh "  !insertmacro ManifestText '${separator}\"chrome-extension://${id}/\"'\n")
  set(separator ", ")
endforeach()
set(firefox_nsh "")
set(separator "")
foreach(id IN LISTS QUORVANE_FIREFOX_EXTENSION_IDS)
  string(LENGTH "${id}" length)
  if(NOT (id MATCHES "^[A-Za-z0-9._-]*@[A-Za-z0-9._-]+$" OR
          (id MATCHES "^{[0-9A-Fa-f-]+}$" AND length EQUAL 38)) OR length GREATER 80)
    message(FATAL_ERROR "QUORVANE_FIREFOX_EXTENSION_IDS: '${id}' is not a Firefox add-on id (name@domain or {GUID})")
  endif()
  string(APPEND firefox_nsh "  !insertmacro ManifestText '${separator}\"${id}\"'\n")
  set(separator ", ")
endforeach()
file(CONFIGURE OUTPUT ${QUORVANE_ALLOWED_IDS_OUTPUT} CONTENT
  "!macro AllowedOrigins\n@origins_nsh@!macroend\n!macro AllowedFirefoxExtensions\n@firefox_nsh@!macroend\n" @ONLY)

