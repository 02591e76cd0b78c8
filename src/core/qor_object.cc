#include "core/qor_object.h"

CQorObject::~CQorObject() { m_iState = 0; }
