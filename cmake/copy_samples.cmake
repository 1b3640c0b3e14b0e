# Copies each sample settings file into TARGET_DIR unless a copy is already there.
foreach(name config.ini tunnel.cfg)
  if(NOT EXISTS "${TARGET_DIR}/${name}")
    file(COPY_FILE "${SOURCE_DIR}/${name}" "${TARGET_DIR}/${name}")
  endif()
endforeach()
