// Draws icon 128 of the language modules: an Orvane printer with an update badge, 256 x 256 by
// default or SIZE x SIZE (the desktop's icon sizes), written as PNG to the path given.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstdlib>

namespace {

void DrawIcon(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    QLinearGradient background(0, 0, 0, 256);
    background.setColorAt(0.0, QColor(0x23, 0x6B, 0x9C));
    background.setColorAt(1.0, QColor(0x0C, 0x30, 0x4C));
    p.setBrush(background);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    // Sheet waiting in the input tray, behind the body.
    p.setBrush(QColor(0xFF, 0xFF, 0xFF));
    p.drawRect(QRectF(78, 36, 100, 80));
    p.setBrush(QColor(0xB9, 0xC8, 0xD6));
    for (int line = 0; line < 3; ++line) {
        p.drawRect(QRectF(92, 52 + line * 16, 72 - line * 14, 6));
    }

    // Body with its control strip.
    QLinearGradient body(0, 100, 0, 190);
    body.setColorAt(0.0, QColor(0xF4, 0xF7, 0xFA));
    body.setColorAt(1.0, QColor(0xC9, 0xD4, 0xDF));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(40, 100, 176, 88), 16, 16);
    p.setBrush(QColor(0x2E, 0x3E, 0x4E));
    p.drawRoundedRect(QRectF(64, 150, 128, 12), 6, 6);
    p.setBrush(QColor(0x4C, 0xD1, 0x7A));
    p.drawEllipse(QPointF(70, 124), 7, 7);

    // Printed sheet leaving the slot.
    p.setBrush(QColor(0xFF, 0xFF, 0xFF));
    p.drawRect(QRectF(74, 156, 108, 56));
    p.setBrush(QColor(0xF2, 0x8C, 0x28));
    p.drawRect(QRectF(88, 176, 60, 8));
    p.drawRect(QRectF(88, 192, 40, 8));

    // Update badge: an upward arrow on an orange disc.
    p.setBrush(QColor(0x0C, 0x30, 0x4C));
    p.drawEllipse(QPointF(190, 190), 50, 50);
    QRadialGradient badge(QPointF(178, 176), 60);
    badge.setColorAt(0.0, QColor(0xFF, 0xB0, 0x4A));
    badge.setColorAt(1.0, QColor(0xE0, 0x6A, 0x10));
    p.setBrush(badge);
    p.drawEllipse(QPointF(190, 190), 44, 44);
    QPainterPath arrow;
    arrow.moveTo(190, 160);
    arrow.lineTo(216, 188);
    arrow.lineTo(200, 188);
    arrow.lineTo(200, 218);
    arrow.lineTo(180, 218);
    arrow.lineTo(180, 188);
    arrow.lineTo(164, 188);
    arrow.closeSubpath();
    p.setBrush(QColor(0xFF, 0xFF, 0xFF));
    p.drawPath(arrow);
}

}  // namespace

int main(int argc, char** argv) {
    const int size = argc == 3 ? std::atoi(argv[2]) : 256;
    if (argc < 2 || argc > 3 || size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: orvane_icon OUTPUT.png [SIZE]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        // Drawn on a 256-unit canvas, so every size shows the same picture.
        QPainter painter(&image);
        painter.scale(size / 256.0, size / 256.0);
        DrawIcon(painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "orvane_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
