#pragma once

#include <QIcon>
#include <QPixmap>

#include "shared/program_constants.h"
#include "shared/window_rules.h"

namespace veltrane {

// Every picture the program shows is drawn here at run time: the four status
// icons, the brand images and the tool-button glyphs. No image files ship.
QPixmap StatusIconPixmap(StatusIcon icon);
QPixmap ToolbarLogo(BrandVariant brand);      // right end of the main tool bar
QPixmap AboutBanner(BrandVariant brand);      // 400 x 111
QPixmap BrenmorSmallLogo();                   // 60 x 60

enum class ToolGlyph {
    SpectrumMode, LinkerMode, Capture, Setup, OpenRaw, SaveRaw, MakeLibrary,
    ImportPc, ImportDevice, Export, Draw, Help,
};
QIcon ToolIcon(ToolGlyph glyph);

// Brand texts of the About window.
QString BrandCopyright(BrandVariant brand);
QString BrandWebAddress(BrandVariant brand);

} // namespace veltrane
