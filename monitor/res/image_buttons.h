#pragma once
// The saved description of the main window's ImageBtn instances (image_buttons.txt).
#define IDR_IMAGE_BUTTONS 300
