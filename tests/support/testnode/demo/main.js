// Demo: the test node's own user interface. It shows its node's
// information, calls the node's echo function 16 when the button is pressed
// and prints the node changes the program sees.

var echo = {
    fid: 16,
    request: [{value: dtype.INT32U}],
    response: [{value: dtype.INT32U}]
};
var calls = 0;

function Entry(ui) {
    var node = instance.currentAddr();
    var info = erfc.nodeInfo(node);
    ui.nodeLabel.text = 'Node ' + node + ': ' + info.nodeDescription;
    ui.serialLabel.text = 'Serial number: ' + info.serial + ', unique id: ' + info.uniqueId;
    ui.modeLabel.text = 'Mode: ' + info.modeText;
    print('Demo started for node ' + node + ' (' + info.nodeDescription + ')');

    ui.callButton.clicked.connect(function () {
        calls += 1;
        var answer = erfc.sendBlocking(node, echo, {value: calls});
        if (answer.code === 0)
            ui.answerLabel.text = 'Answer: ' + answer.payload.value;
        else
            ui.answerLabel.text = 'Error: ' + answer.codeText;
        print('function 16 answered ' + answer.codeText);
    });

    erfc.nodeUpdate(function (change) {
        print('node ' + change.address + ' ' + change.stateText + ' (' + change.modeText + ')');
    });
}

var information = {name: 'Demo', uifile: '/main.ui', entry: Entry};
