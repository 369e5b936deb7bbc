// The control's face on the host form.
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "vizadavu/qt/FormControl.h"

namespace vizadavu::qt {

// The face: a form sheet with a folded corner and three fields, and a round
// badge whose colour and sign tell the phase. Drawn in a 32 x 32 design space.
void FormControl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal scale = std::min(width(), height()) / 32.0;
  p.scale(scale, scale);
  if (!isEnabled()) p.setOpacity(0.45);

  const QColor ink(0x3a, 0x48, 0x5c);
  QPainterPath sheet;
  sheet.moveTo(4.5, 1.5);
  sheet.lineTo(19.5, 1.5);
  sheet.lineTo(25.5, 7.5);
  sheet.lineTo(25.5, 29.5);
  sheet.lineTo(4.5, 29.5);
  sheet.closeSubpath();
  p.setPen(QPen(ink, 1.0));
  p.setBrush(QColor(0xfb, 0xfb, 0xf6));
  p.drawPath(sheet);

  QPainterPath fold;
  fold.moveTo(19.5, 1.5);
  fold.lineTo(19.5, 7.5);
  fold.lineTo(25.5, 7.5);
  fold.closeSubpath();
  p.setBrush(QColor(0xd5, 0xdc, 0xe6));
  p.drawPath(fold);

  // Three labelled fields.
  const QColor field(0x8a, 0x96, 0xa8);
  for (int i = 0; i < 3; ++i) {
    const qreal y = 10.5 + i * 5.5;
    p.setPen(Qt::NoPen);
    p.setBrush(field);
    p.drawRect(QRectF(7.0, y + 0.5, 3.5, 2.0));
    p.setPen(QPen(field, 0.8));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(12.0, y - 0.5, 10.5, 3.5));
  }

  QColor badge;
  switch (phase_) {
    case Phase::Idle:
      badge = QColor(0x2f, 0x6f, 0xb2);
      break;
    case Phase::Pausing:
    case Phase::Sending:
      badge = QColor(0xd0, 0x8a, 0x10);
      break;
    case Phase::Receiving:
      badge = QColor(0x1f, 0x8f, 0xa8);
      break;
    case Phase::Done:
      badge = QColor(0x2e, 0x8b, 0x57);
      break;
    case Phase::Failed:
      badge = QColor(0xc0, 0x39, 0x2b);
      break;
  }
  const QPointF c(24.0, 24.0);
  p.setPen(QPen(Qt::white, 1.5));
  p.setBrush(badge);
  p.drawEllipse(c, 7.0, 7.0);

  QPen sign(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(sign);
  p.setBrush(Qt::NoBrush);
  switch (phase_) {
    case Phase::Idle:  // send: an arrow to the right
      p.drawLine(QPointF(20.5, 24.0), QPointF(27.5, 24.0));
      p.drawPolyline(QPolygonF({QPointF(24.5, 21.0), QPointF(27.5, 24.0), QPointF(24.5, 27.0)}));
      break;
    case Phase::Pausing:  // waiting: clock hands
      p.drawLine(c, QPointF(24.0, 20.0));
      p.drawLine(c, QPointF(27.0, 24.0));
      break;
    case Phase::Sending:  // up
      p.drawLine(QPointF(24.0, 27.5), QPointF(24.0, 20.5));
      p.drawPolyline(QPolygonF({QPointF(21.0, 23.5), QPointF(24.0, 20.5), QPointF(27.0, 23.5)}));
      break;
    case Phase::Receiving:  // down
      p.drawLine(QPointF(24.0, 20.5), QPointF(24.0, 27.5));
      p.drawPolyline(QPolygonF({QPointF(21.0, 24.5), QPointF(24.0, 27.5), QPointF(27.0, 24.5)}));
      break;
    case Phase::Done:  // a check mark
      p.drawPolyline(QPolygonF({QPointF(20.8, 24.2), QPointF(23.2, 26.6), QPointF(27.4, 21.4)}));
      break;
    case Phase::Failed:  // a cross
      p.drawLine(QPointF(21.3, 21.3), QPointF(26.7, 26.7));
      p.drawLine(QPointF(26.7, 21.3), QPointF(21.3, 26.7));
      break;
  }
}

}  // namespace vizadavu::qt
