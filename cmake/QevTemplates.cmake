# The netCDF templates: each data/templates/NAME.cdl becomes the classic-format
# file templates/NAME of the build tree, made by ncgen (never committed as a
# binary).  scripts/demo and the end-to-end tests copy them into the point-data
# directories that the CDL's "// point directories:" line names.
file(GLOB qev_cdl_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/templates/*.cdl)
set(qev_templates "")
if(QEV_NCGEN)
  foreach(cdl ${qev_cdl_files})
    get_filename_component(name ${cdl} NAME_WE)
    set(out ${CMAKE_BINARY_DIR}/templates/${name})
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/templates
      COMMAND ${QEV_NCGEN} -b -k classic -o ${out} ${cdl}
      DEPENDS ${cdl} COMMENT "ncgen template ${name}" VERBATIM)
    list(APPEND qev_templates ${out})
  endforeach()
else()
  message(WARNING "ncgen not found: no netCDF templates (install netcdf-bin, scripts/setup)")
endif()
add_custom_target(templates ALL DEPENDS ${qev_templates})
