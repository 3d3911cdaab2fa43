#include "window/ApplicationIcon.h"

// The resources live in a static library, whose unreferenced initialiser the linker would
// drop; initialising them by name keeps them. The macro declares the initialiser, so it must
// be used outside any namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(velmor_snd);
}

namespace window {

QIcon applicationIcon()
{
    initIconResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 256}) {
        icon.addFile(QStringLiteral(":/icons/velmor_snd-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace window
