# The window: the language choice (no Qt), the Qt dialog and application, and reflasher itself.
add_library(updater_language STATIC LanguageModule.cpp)

add_library(updater_qt STATIC
    QtResourceModule.cpp
    QtDialogPrompter.cpp
    UpdaterDialog.cpp
    UpdaterApp.cpp
)
set_target_properties(updater_qt PROPERTIES AUTOMOC ON)
target_link_libraries(updater_qt PUBLIC updater_core updater_language Qt6::Widgets Qt6::UiTools)

add_executable(reflasher UpdaterMain.cpp)
target_link_libraries(reflasher PRIVATE updater_qt)
# The window needs its language modules and Reflasher.dll beside it.
add_dependencies(reflasher language_modules)
