#include "app/about_box.h"

#include "app/resource.h"

CAboutBox::CAboutBox() : CDialog(ID_ABOUT_DIALOG) {}
