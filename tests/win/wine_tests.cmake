# The Windows tree's test programs, run under Wine by the native build's ctest (label win).
corva_add_win_test(win.settings_file tests/win/win_tests.exe --gtest_filter=IniFileTest.*:DefaultSaveDirectory.* TIMEOUT 120)
corva_add_win_test(win.main_window tests/win/win_tests.exe --gtest_filter=PrincipalWindowTest.* TIMEOUT 300)
corva_add_win_test(win.shutdown_calls tests/win/win_tests.exe --gtest_filter=WinRebootApi.* TIMEOUT 120)
corva_add_win_test(win.systray tests/win/win_tests.exe --gtest_filter=Systray* TIMEOUT 300)
corva_add_win_test(win.usb_device tests/win/win_tests.exe
                   --gtest_filter=UsbDeviceSearch.*:WinHidDevice*:RealHidDevice.* TIMEOUT 180)
corva_add_win_script(win.serial_port ${CMAKE_SOURCE_DIR}/tests/win/run_serial_tests.sh
                     ${CORVA_WIN_BUILD_DIR}/tests/win/win_serial_tests.exe TIMEOUT 300)
corva_add_win_script(win.serial_turnoff ${CMAKE_SOURCE_DIR}/tests/win/run_turnoff_test.sh
                     ${CMAKE_BINARY_DIR}/tools/upssim/upssim
                     ${CORVA_WIN_BUILD_DIR}/tests/win/win_turnoff_tests.exe TIMEOUT 180)
corva_add_win_test(win.office_saving tests/win/win_tests.exe
                   --gtest_filter=WinOfficeSaver*:WinSavingHost*:WinKeys*:WinDesktopWindows*:BusyCallRetry* TIMEOUT 180)
corva_add_win_test(win.lumbra tests/win/lumbra_tests.exe TIMEOUT 300)
corva_add_win_test(win.nut_server tests/win/nut_server_tests.exe TIMEOUT 180)
corva_add_win_script(win.nut_upsc ${CMAKE_SOURCE_DIR}/tests/win/run_upsc_check.sh
                     ${CORVA_WIN_BUILD_DIR}/tests/win/nut_server_tests.exe TIMEOUT 180)
corva_add_win_script(win.serial_resume ${CMAKE_SOURCE_DIR}/tests/win/run_resume_test.sh
                     ${CMAKE_BINARY_DIR}/tools/upssim/upssim
                     ${CORVA_WIN_BUILD_DIR}/tests/win/win_resume_tests.exe TIMEOUT 180)
