#include "client/HudPass.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "client/MVEntryPoint.h"
#include "client/Window.h"

void drawHudPass(MVEntryPoint* controller) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0.0, static_cast<double>(window.video.width), 0.0,
               static_cast<double>(window.video.height));
    glScalef(1, -1, 1);
    glTranslatef(0, static_cast<float>(-window.video.height), 0);
    glMatrixMode(GL_MODELVIEW);
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glColor4f(1, 0, 0, 1);
    controller->drawHud();
    glPopAttrib();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
