#pragma once

#include "DibSection.h"

#include <QImage>

namespace Jel {

// A QImage over the section's stored rows, sharing its pixels where a Qt
// format matches (1, 8, 16, 24 and 32 bits); 4-bit sections are converted.
// The first line of the image is the first stored row: for a bottom-up
// section that is the picture's bottom line. Valid while the section lives.
QImage WrapDibRows(const DibSection& section);

// An independent image of the picture, top line first.
QImage DibToImage(const DibSection& section);

} // namespace Jel
