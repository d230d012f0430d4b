#include "about_box.h"

#include "dialog_template.h"
#include "resources.h"

namespace chiroscope {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    buildDialog(*this, loadDialogTemplate(kIddAboutBox), loadIcon(kIdrMainFrame));
}

}  // namespace chiroscope
