#pragma once

#include <QImage>

// Fixed patterns with which service staff check the light engine. Each
// builder replaces `image` with a new 24-bit RGB image of the machine
// resolution (XRes x YRes, read from the configuration on every call) and
// paints its pattern; positions are absolute pixels, and what falls outside
// the image is clipped. The image is null when the configured resolution is
// no panel (a side of 0 or beyond 32768 pixels).
//
// The labelled frame, the grid of lines and the stripe stair are also saved
// on the USB disk ("/ABC.png", "/black.png", "/test.png"), replacing files of
// the same name; without a disk nothing is written.

// Labels A to F and 1 to 19 down two columns, a 5-pixel border and four
// one-pixel segments; white on black, or black on white.
void makeAbcImage(QImage& image, bool whiteBackground);
// White lines 3 pixels wide on black: centre lines, lines every tenth of the
// width in whole hundreds of pixels out from them, border lines 3 pixels in,
// and a 50-pixel square in the top-left corner. Panels narrower than 100
// pixels get the centre and border lines only.
void makeGridLineImage(QImage& image);
// Six black one-pixel stripes of 200 rows on white, each one pixel right of
// and 250 rows below the one before; the fourth starts at the centre.
void makeStripeImage(QImage& image);
// Four white 9 x 9 squares around the centre and a 40-pixel white square in
// the top-left corner, on black.
void makeMidpointImage(QImage& image);
// 20 x 14 white blocks of 8 x 8 pixels, 100 pixels apart across and 82 down.
void makeBlockImage(QImage& image);
// Round dots of `gray` (0 to 255), `diameterMm` across, in `columns` x `rows`
// positions starting at pixel (x0, y0) with steps in pixels, and a white
// triangle outline. Parameters that cannot make dots (counts below 1 or
// beyond one dot per pixel, a diameter or printable width that is not a
// positive number, a gray level outside 0..255) give a black image.
void makeDotImage(QImage& image, int columns, int rows, float diameterMm, int x0, int y0, int xStep, int yStep,
                  int gray);
// An 8-bit gray image of one level (0 to 255; any other level gives black).
void makeGrayImage(QImage& image, int level);
