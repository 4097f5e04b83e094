// The printer's test patterns and raw images for the service tools.
#include "engine/print/Printer.h"

#include "base/log/LogWriter.h"
#include "engine/projection/ProjectView.h"
#include "engine/projection/TestImages.h"

int Printer::transDataImage(const QImage& image)
{
    if (refusedWhilePrinting("Show raw image"))
        return -1;
    if (image.format() != QImage::Format_RGB888 || image.width() != m_projectView->width() ||
        image.height() != m_projectView->height()) {
        logger()->write(LogError, "transDataImage: a %d x %d image of format %d is no 24-bit image of the panel's %d x %d",
                   image.width(), image.height(), static_cast<int>(image.format()), m_projectView->width(),
                   m_projectView->height());
        return -1;
    }
    const int rc = m_projectView->transDataImage(image.constBits(), static_cast<size_t>(image.sizeInBytes()),
                                                 static_cast<size_t>(image.bytesPerLine()));
    m_projectView->refresh();
    return rc;
}

// Checked before the pattern is built: a refused pattern is not saved either.
int Printer::showPattern(const char* name, void (*build)(QImage&))
{
    if (refusedWhilePrinting(name))
        return -1;
    QImage image;
    build(image);
    if (image.isNull())
        return -1;
    const int rc = m_projectView->drawImage(image);
    m_projectView->refresh();
    return rc;
}

int Printer::showBlackImage()
{
    return showPattern("Grid line image", makeGridLineImage);
}

int Printer::showGridImage(bool whiteBackground)
{
    if (whiteBackground)
        return showPattern("ABC image", [](QImage& image) { makeAbcImage(image, true); });
    return showPattern("ABC image", [](QImage& image) { makeAbcImage(image, false); });
}

int Printer::showTestImage()
{
    return showPattern("Stripe image", makeStripeImage);
}

int Printer::showRectImage()
{
    return showPattern("Midpoint image", makeMidpointImage);
}

int Printer::showBlockImage()
{
    return showPattern("Block image", makeBlockImage);
}
