import sigrokdecode as srd

class Decoder(srd.Decoder):
    api_version = 3
    id = 'velkaro_raiser'
    name = 'Raiser'
    longname = 'Velkaro test: raises'
    desc = 'Annotates each change of b; raises where a rises.'
    license = 'gplv2+'
    inputs = ['logic']
    outputs = []
    tags = ['Debug/trace']
    channels = (
        {'id': 'a', 'name': 'A', 'desc': 'raises where it rises'},
        {'id': 'b', 'name': 'B', 'desc': 'annotated at each change'},
    )
    annotations = (
        ('change', 'Change of b'),
    )

    def reset(self):
        pass

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def decode(self):
        while True:
            pins = self.wait([{0: 'r'}, {1: 'e'}])
            if self.matched[0]:
                raise Exception('a rose')
            self.put(self.samplenum, self.samplenum, self.out_ann, [0, ['b=%d' % pins[1]]])
