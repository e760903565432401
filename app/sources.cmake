set(APP_SOURCES
  app/main.cpp
  app/update_config.cpp
  app/version_check.cpp
)
