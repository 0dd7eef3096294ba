#pragma once
#include <QLabel>

class QMouseEvent;

namespace veldrano {

// A text label that looks like a web link (bold, underlined, blue on the
// colour of inactive window borders, hand pointer) and opens its caption
// with the desktop's default handler when clicked.
class TLinkLabelQeb : public QLabel {
  Q_OBJECT

 public:
  // The address shown until the owner sets its own caption.
  static constexpr const char* DefaultCaption = "https://veldrano.org";

  explicit TLinkLabelQeb(QWidget* owner = nullptr);

 public slots:
  // Opens the caption as it is at the time of the click. Whether anything
  // could open it is not examined: a failure shows nothing and reports nothing.
  void Clic();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;  // the left button went down on the label
};

}  // namespace veldrano
