// The program's name, version and rights, kept in one place: the About box
// and the version resource both take them from here.  Only preprocessor
// definitions, so that the resource compiler reads this file as well as a
// C++ compiler does; the texts are UTF-8, as the resource script is.
#pragma once

#define UPD_VERSION_MAJOR 1
#define UPD_VERSION_MINOR 0

#define UPD_STRINGIZE_(x) #x
#define UPD_STRINGIZE(x) UPD_STRINGIZE_(x)

// "1.0" as the About box and the product version show it, and the four
// numbers of the file version, "1.0.0.0".
#define UPD_VERSION_TEXT UPD_STRINGIZE(UPD_VERSION_MAJOR) "." UPD_STRINGIZE(UPD_VERSION_MINOR)
#define UPD_FILE_VERSION_TEXT UPD_VERSION_TEXT ".0.0"

#define UPD_COMPANY "Korvane Type Foundry"
#define UPD_PRODUCT "Korvane Font Updater2017"
#define UPD_DESCRIPTION "Korvaneフォント 改訂プログラム"
#define UPD_COPYRIGHT "Copyright (C) 2017 " UPD_COMPANY
#define UPD_INTERNAL_NAME "upd"
#define UPD_ORIGINAL_FILE_NAME "upd.exe"

// The About box's two lines.
#define UPD_ABOUT_PRODUCT_LINE UPD_PRODUCT " Version " UPD_VERSION_TEXT
#define UPD_ABOUT_RIGHTS_LINE UPD_COPYRIGHT
