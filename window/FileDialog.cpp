#include "FileDialog.h"

FileDialog::~FileDialog() = default;
