#include "startup/Module1.h"

#include "launcher/frmbegin.h"
#include "platform/drive_map.h"
#include "platform/message_boxes.h"
#include "platform/runtime_error.h"
#include "session/FrmExitMsg.h"
#include "session/frmmain.h"
#include "settings/clstxt.h"
#include "settings/settings_paths.h"
#include "update/frmupdate.h"

namespace tclink {

Module1::Module1(platform::Services& services_) : services(services_) {}

Module1::~Module1()
{
    delete frmExitMsg_;
    delete frmmain_;
    delete frmbegin_;
    delete frmupdate_;
}

void Module1::Main()
{
    HasDriveD = !services.drives.firstEntry(QChar('D')).isEmpty();
    LineCode = settings::clstxt(services.drives).txtread(settings::lineFile(HasDriveD));
    try {
        showFrmupdate();
    } catch (const RuntimeError& error) {
        services.boxes.show(platform::errorNotice(error));
    }
}

update::frmupdate* Module1::frmupdate() const
{
    return frmupdate_;
}
launcher::frmbegin* Module1::frmbegin() const
{
    return frmbegin_;
}
session::frmmain* Module1::frmmain() const
{
    return frmmain_;
}
session::FrmExitMsg* Module1::FrmExitMsg() const
{
    return frmExitMsg_;
}

update::frmupdate& Module1::showFrmupdate()
{
    if (!frmupdate_) {
        frmupdate_ = new update::frmupdate(*this);
    }
    frmupdate_->show();
    return *frmupdate_;
}

launcher::frmbegin& Module1::showFrmbegin()
{
    if (!frmbegin_) {
        frmbegin_ = new launcher::frmbegin(*this);
    }
    frmbegin_->show();
    return *frmbegin_;
}

session::frmmain& Module1::showFrmmain()
{
    if (!frmmain_) {
        frmmain_ = new session::frmmain(*this);
    }
    frmmain_->showMaximized();
    return *frmmain_;
}

session::FrmExitMsg& Module1::showFrmExitMsg()
{
    if (!frmExitMsg_) {
        frmExitMsg_ = new session::FrmExitMsg(*this);
    }
    frmExitMsg_->show();
    return *frmExitMsg_;
}

} // namespace tclink
