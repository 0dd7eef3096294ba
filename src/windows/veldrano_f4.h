#pragma once
#include <QDialog>

class QLabel;
class QPushButton;
class QShowEvent;

namespace veldrano {

class TLinkLabelQeb;

// The About window: a fixed tool window with the one-line description, the
// product name and version, the QR-code picture and the link to our web site. Created
// once at start-up, shown with exec(), closed by OK, Enter or the close box.
class TForm4 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);

  QLabel* Label2;                // the description
  QLabel* Image1;                // the picture, at its own size
  QLabel* Label1;                // the product name
  QLabel* Label3;                // its version
  TLinkLabelQeb* LinkLabelQeb1;  // our web address
  QPushButton* btnOK;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace veldrano
