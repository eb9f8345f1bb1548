// One version for the code and the resource script.
#pragma once

#define SETUP_VERSION_MAJOR 1
#define SETUP_VERSION_MINOR 0
#define SETUP_VERSION_PATCH 0
#define SETUP_VERSION_BUILD 0
#define SETUP_VERSION_TEXT "1.0.0.0"
#define SETUP_PRODUCT_NAME "Setup"
// The release's zip and its top folder begin with this, and so does the check kit's.
#define SETUP_RELEASE_NAME "Orvo_Tool-Setup"
