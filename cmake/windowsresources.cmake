# What makes a Windows executable look like a Windows program in Explorer: the panel's icon
# as its file icon, a version resource (product name, version and description, from the
# project's version) and an application manifest (per-monitor DPI awareness, Windows 10 and
# 11 named as supported). Qt's CMake adds no resources of its own to an executable, so each
# executable gets exactly one manifest, this one.
set(PWM_PRODUCT_NAME "PWM Panel")
set(PWM_WINDOWS_RESOURCE_DIR ${PROJECT_SOURCE_DIR}/src/app/windows)
set(PWM_WINDOWS_ICON ${PROJECT_SOURCE_DIR}/src/app/icons/pwmpanel.ico)

function(pwm_windows_resources target description)
    set(PWM_TARGET ${target})
    set(PWM_DESCRIPTION "${description}")
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
    set(PWM_MANIFEST ${dir}/${target}.manifest)
    configure_file(${PWM_WINDOWS_RESOURCE_DIR}/program.manifest.in ${PWM_MANIFEST} @ONLY)
    configure_file(${PWM_WINDOWS_RESOURCE_DIR}/program.rc.in ${dir}/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${dir}/${target}.rc)
    # windres does not see what the .rc file pulls in; a changed icon rebuilds it all the same.
    set_source_files_properties(${dir}/${target}.rc PROPERTIES
        OBJECT_DEPENDS "${PWM_WINDOWS_ICON};${PWM_MANIFEST}")
endfunction()
