// Renders a picture to PNG: icon_to_png <in.xpm|in.svg> <out.png> [size].
// The build turns the window icon into the PNGs that desktops look up in the
// icon theme: the XPM as it is, and the SVG drawing of it at larger sizes
// (read through Qt's SVG image plugin, which draws it at the size asked).
#include <QImage>
#include <QImageReader>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: icon_to_png <in.xpm|in.svg> <out.png> [size]\n");
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    if (argc == 4) {
        const int size = std::atoi(argv[3]);
        if (size <= 0) {
            std::fprintf(stderr, "icon_to_png: bad size %s\n", argv[3]);
            return 2;
        }
        reader.setScaledSize(QSize(size, size));
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "icon_to_png: cannot read %s: %s\n", argv[1],
                     qPrintable(reader.errorString()));
        return 1;
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "icon_to_png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
