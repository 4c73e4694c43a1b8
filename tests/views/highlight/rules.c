
/**/ void f(QString s);
char *u = "http://x"; int k;
s = "a" + x + "b";
puts("int");
QObject(x); QWidget w; QLabel (y);
if(a) while (b) return;
x = 1 */ 2;
int /* c */ x; long
/* a /* b */ c */
/*
still
*/
// whole
