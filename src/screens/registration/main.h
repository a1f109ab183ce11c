#pragma once

#include "screens/common/datascreen.h"

class Main : public common::DataScreen {
    Q_OBJECT
public:
    explicit Main();
    void load() override;
};
