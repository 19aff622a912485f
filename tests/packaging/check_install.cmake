# Installs into a staging folder and checks that every file lands in its standard place.
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BINARY_DIR}" --prefix "${STAGE}/usr"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected
    usr/share/applications/com.Idlewatch.Idlewatch.desktop
    usr/share/icons/hicolor/scalable/apps/com.Idlewatch.Idlewatch-symbolic.svg
    usr/share/icons/hicolor/scalable/apps/com.Idlewatch.Idlewatch-paused-symbolic.svg
    usr/share/metainfo/com.idlewatch.Idlewatch.metainfo.xml
    usr/share/gnome-shell/extensions/idlewatch@idlewatch.app/extension.js
    usr/share/gnome-shell/extensions/idlewatch@idlewatch.app/metadata.json)
if(EXISTS "${BINARY_DIR}/src/app/idlewatch")
    list(APPEND expected
         usr/bin/idlewatch
         usr/share/icons/hicolor/scalable/apps/com.Idlewatch.Idlewatch.svg
         usr/share/icons/hicolor/48x48/apps/com.Idlewatch.Idlewatch.png
         usr/share/icons/hicolor/256x256/apps/com.Idlewatch.Idlewatch.png)
endif()
foreach(path IN LISTS expected)
    if(NOT EXISTS "${STAGE}/${path}")
        message(FATAL_ERROR "not installed: ${path}")
    endif()
endforeach()
# KWin matches the entry to the running binary by this absolute path; the stage's name has a
# space, which KWin and GLib accept only quoted.
file(STRINGS "${STAGE}/usr/share/applications/com.Idlewatch.Idlewatch.desktop" exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=\"${STAGE}/usr/bin/idlewatch\"")
    message(FATAL_ERROR "the installed entry does not name the installed binary: ${exec}")
endif()
file(STRINGS "${STAGE}/usr/share/applications/com.Idlewatch.Idlewatch.desktop" interfaces
     REGEX "^X-KDE-Wayland-Interfaces=(.*,)?org_kde_plasma_window_management(,|$)")
if(NOT interfaces)
    message(FATAL_ERROR "the installed entry does not ask KWin for its window list")
endif()
# The GNOME Shell extension answers only the executable its allow-list names.
file(READ "${STAGE}/usr/share/gnome-shell/extensions/idlewatch@idlewatch.app/allowed-callers" allowed)
if(NOT allowed STREQUAL "${STAGE}/usr/bin/idlewatch\n")
    message(FATAL_ERROR "the extension does not allow the installed binary: ${allowed}")
endif()
message(STATUS "installed: ${expected}")
